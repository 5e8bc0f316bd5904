#include "DragDropMessages.h"

#include <QEvent>

namespace updatetool {

DragDropMessages registerDragDropMessages()
{
    // Qt hands out event types per process, like the platform does for named
    // window messages; registering twice would give new numbers, so keep the first.
    static const DragDropMessages messages{
        .queryDrop = QEvent::registerEventType(),
        .doDrop = QEvent::registerEventType(),
        .beginDragDrop = QEvent::registerEventType(),
    };
    return messages;
}

} // namespace updatetool

#pragma once

namespace updatetool {

// Event types of the drag-and-drop channel lists: the Qt counterpart of window
// messages registered by name. The names are kept for readers of logs and tests.
struct DragDropMessages {
    static constexpr const char* kQueryDropName = "DDCQUERYDROP";
    static constexpr const char* kDoDropName = "DDCDODROP";
    static constexpr const char* kBeginDragDropName = "DDCBEGINDRAGDROP";

    int queryDrop = 0;
    int doDrop = 0;
    int beginDragDrop = 0;
};

// Registers the three event types on the first call; every later call returns
// the same ids, so every window of the process agrees on them.
DragDropMessages registerDragDropMessages();

} // namespace updatetool

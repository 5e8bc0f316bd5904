#include "GuiTestBase.h"

#include <QFile>
#include <QTimer>

#include "ImageFile.h"
#include "TestSupport.h"

namespace updatetool::test {

QString GuiTestBase::writeFile(const QString& name, std::string_view bytes) const
{
    const QString path = pathOf(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
}

QString GuiTestBase::writeApplicationImage(const QString& name, std::size_t size) const
{
    std::string image(std::max(size, kApplicationHeaderExtent), '\0');
    for (std::size_t i = 16; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 + 3);
    image.replace(0, 4, kMagicApplication);
    image.replace(4, 8, "TESTAPP1");
    testsupport::sealApplicationHeader(image);
    return writeFile(name, image);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QTest::qWait(10);
    }
    return true;
}

int GuiTestBase::runUntilClosed(QDialog& dialog, std::chrono::milliseconds limit)
{
    bool closed = false;
    const auto connection = QObject::connect(&dialog, &QDialog::finished, [&closed] { closed = true; });
    dialog.open();
    const bool ended = waitUntil([&closed] { return closed; }, limit);
    QObject::disconnect(connection);
    return ended ? dialog.result() : -1;
}

QString GuiTestBase::textOf(QWidget* dialog, int id)
{
    QWidget* control = controlById(dialog, id);
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    return QStringLiteral("<no control %1>").arg(id);
}

TextRecorder::TextRecorder(QLabel* label)
    : sampler_(std::make_unique<QTimer>())
{
    texts_.push_back(label->text());
    // A label has no change signal; sample it far more often than the window's timer writes it.
    QObject::connect(sampler_.get(), &QTimer::timeout, label, [this, label] {
        if (texts_.back() != label->text())
            texts_.push_back(label->text());
    });
    sampler_->start(5);
}

TextRecorder::~TextRecorder() = default;

} // namespace updatetool::test

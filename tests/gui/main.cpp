#include <QApplication>
#include <gtest/gtest.h>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns about every window it sizes; that says nothing about the test.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

// The window tests need an application object and no screen.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(quietHandler);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

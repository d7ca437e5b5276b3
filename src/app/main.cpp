#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vocalith"));
    QApplication::setApplicationName(QStringLiteral("Vocalith"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vocalith"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Vocalith"));
    window.setMinimumSize(600, 500);
    auto* label = new QLabel(QStringLiteral("Vocalith"), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.show();
    return QApplication::exec();
}

// The floor for start-up: a bare Qt window with the same four controls and
// nothing else, shown with its label already set.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setFixedSize(402, 155);
    (new QLineEdit(QStringLiteral("888"), &window))->setGeometry(16, 64, 81, 25);
    (new QLineEdit(QStringLiteral("000"), &window))->setGeometry(112, 64, 97, 25);
    (new QLabel(QStringLiteral("Port = 888 Value = 0"), &window))->setGeometry(16, 24, 193, 17);
    (new QPushButton(QStringLiteral("Commit"), &window))->setGeometry(128, 104, 81, 25);
    window.show();
    return application.exec();
}

#include "console/frmFtpTest.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    return frmFtpTest::Run();
}

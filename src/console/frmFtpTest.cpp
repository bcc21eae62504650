#include "console/frmFtpTest.h"
int frmFtpTest::Run() { return 0; }

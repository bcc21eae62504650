#pragma once
class frmFtpTest { public: static int Run(); };

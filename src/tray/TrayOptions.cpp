#include "ui/frmMain.h"

void frmMain::chkShowTrayIcon_Click() {}
void frmMain::chkAnimateTrayIcon_Click() {}

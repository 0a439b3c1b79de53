#include "ui/frmMain.h"

void frmMain::trayActivated(TrayActivation) {}
void frmMain::mShowDialog_Click() {}
void frmMain::mShowMini_Click() {}
void frmMain::mExit_Click() {}
void frmMain::Form_Resize() {}
void frmMain::lblZarnDev_Click() {}

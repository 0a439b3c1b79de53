#include "ui/frmMain.h"

void frmMain::updateThresholdControls() {}
void frmMain::chkAutoAdjustThreshold_Click() {}
void frmMain::chkMinimizeToTray_Click() {}
void frmMain::chkShowBandwidth_Click() {}
void frmMain::chkStartupMinimized_Click() {}
void frmMain::chkStartWithWin_Click() {}
void frmMain::cmdUpdateFrequency_Click() {}
void frmMain::txtYellowThreshold_Change() {}
void frmMain::txtRedThreshold_Change() {}

#include "ui/frmMain.h"

void frmMain::tmrAdapterUpdate_Timer() {}

#include "ui/frmMain.h"

void frmMain::Form_Load() {}

void frmMain::Form_Unload() {
    unloaded = true;
}

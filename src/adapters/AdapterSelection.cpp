#include "ui/frmMain.h"

void frmMain::enumerateAdapters() {}
QString frmMain::lookupIpAddress(qint32) {
    return {};
}
void frmMain::cmdAdapters_Click() {}

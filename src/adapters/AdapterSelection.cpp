#include "adapters/AdapterText.h"
#include "app/MessageBoxes.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "ui/frmMain.h"
#include "ui_frmMain.h"

#include "Version.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>

namespace {

const QString kAdapterSetting = QStringLiteral("Adapter");

// Interface names may hold '<' and '&'; they must never be read as markup.
void showPlain(QLabel *label, const QString &text) {
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
}

} // namespace

void frmMain::enumerateAdapters() {
    // A stored value that is not a whole number counts as no adapter. It is
    // left as it is in the store (nothing is written back for 0), so a
    // hand-edited value stays until the user picks an adapter.
    const qint32 stored =
        Conversions::textToWholeInt32(Registry::readSetting(kAdapterSetting, QStringLiteral("0")))
            .value_or(0);

    // The fill runs once, on an empty list; should it ever run again, the
    // entries must still line up with adapterIndexes.
    {
        const QSignalBlocker quiet(ui->cmdAdapters);
        ui->cmdAdapters->clear();
    }
    adapterIndexes.assign(1, 0);

    std::vector<InterfaceRow> rows;
    const TableResult result =
        platform.interfaces ? platform.interfaces->interfaceTable(rows) : TableResult::NotSupported;
    if (result == TableResult::NotSupported) {
        if (platform.messages)
            platform.messages->show(
                this, QStringLiteral("IP Helper is not supported by this system."),
                QString::fromUtf8(zarn::kProductName), MessageBoxes::Icon::None);
        return;
    }

    if (result == TableResult::Ok) {
        // One read of the address table serves every entry; each entry shows
        // what a lookup of its own would.
        std::vector<AddressRow> addresses;
        if (!platform.interfaces->addressTable(addresses))
            addresses.clear();

        QComboBox *list = ui->cmdAdapters;
        for (const InterfaceRow &row : rows) {
            // QComboBox makes the first entry it is given current on its own.
            // That selection must neither stand nor reach the handler: only
            // the stored adapter's entry becomes current.
            {
                const QSignalBlocker quiet(list);
                const int before = list->currentIndex();
                list->addItem(AdapterText::entryText(AdapterText::addressOf(addresses, row.index),
                                                     row.description));
                if (list->currentIndex() != before)
                    list->setCurrentIndex(before);
            }
            // Selecting runs cmdAdapters_Click now, before the index below is
            // recorded: for entry 0 it sees the free slot, later ones it skips.
            if (row.index == stored)
                list->setCurrentIndex(list->count() - 1);

            if (adapterIndexes.back() == 0)
                adapterIndexes.back() = row.index;
            else
                adapterIndexes.push_back(row.index);
        }
    }

    if (stored != 0)
        Registry::writeSetting(kAdapterSetting, Conversions::adapterToText(stored));
}

QString frmMain::lookupIpAddress(qint32 index) {
    std::vector<AddressRow> addresses;
    if (!platform.interfaces || !platform.interfaces->addressTable(addresses))
        return QString();
    return AdapterText::addressOf(addresses, index);
}

void frmMain::cmdAdapters_Click() {
    const int position = ui->cmdAdapters->currentIndex();
    if (position < 0 || size_t(position) >= adapterIndexes.size())
        return;

    const qint32 index = adapterIndexes[size_t(position)];
    Registry::writeSetting(kAdapterSetting, Conversions::adapterToText(index));
    selectedAdapter = index;
    showAdapterDetails(index);
}

void frmMain::showAdapterDetails(qint32 index) {
    // A failed query (the interface vanished) shows an empty row: no name,
    // "0 bit", the type label as it was.
    InterfaceRow row;
    if (!platform.interfaces ||
        !platform.interfaces->interfaceRow(index, row, InterfaceSource::Detail::Full)) {
        row = InterfaceRow{};
        row.index = index;
    }

    showPlain(ui->lblInfoAdapterName, AdapterText::descriptionText(row.description));
    showPlain(ui->lblInfoAdapterSpeed, AdapterText::speedText(row.speed));
    if (const auto name = AdapterText::typeName(row.type))
        showPlain(ui->lblInfoAdapterType, *name);
    showPlain(ui->lblInfoIPAddress, lookupIpAddress(index));
}

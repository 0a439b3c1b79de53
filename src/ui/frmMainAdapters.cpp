#include "adapters/AdapterText.h"
#include "platform/MessageBoxes.h"
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

namespace {

const QString kAdapterNameSetting = QStringLiteral("AdapterName");

int positionOf(const std::vector<InterfaceRow> &rows, qint32 index) {
    for (size_t i = 0; i < rows.size(); ++i)
        if (index != 0 && rows[i].index == index)
            return int(i);
    return -1;
}

int positionNamed(const std::vector<InterfaceRow> &rows, const QByteArray &name) {
    for (size_t i = 0; i < rows.size(); ++i)
        if (!name.isEmpty() && rows[i].name == name)
            return int(i);
    return -1;
}

// The entries for rows, one "address: description" each, from one read of
// the address table (each entry shows what a lookup of its own would).
QStringList entryTexts(InterfaceSource &source, const std::vector<InterfaceRow> &rows) {
    std::vector<AddressRow> addresses;
    if (!source.addressTable(addresses))
        addresses.clear();
    QStringList entries;
    entries.reserve(qsizetype(rows.size()));
    for (const InterfaceRow &row : rows)
        entries << AdapterText::entryText(AdapterText::addressOf(addresses, row.index),
                                          row.description);
    return entries;
}

} // namespace

void frmMain::enumerateAdapters() {
    // Watching starts before the first read, so that nothing that happens
    // in between goes unheard (at worst it is read twice).
    if (platform.interfaces)
        platform.interfaces->watch([this] { refreshAdapters(); });

    // A stored value that is not a whole number counts as no adapter. It is
    // left as it is in the store (nothing is written back for 0), so a
    // hand-edited value stays until the user picks an adapter.
    const qint32 stored =
        Conversions::textToWholeInt32(Registry::readSetting(kAdapterSetting, QStringLiteral("0")))
            .value_or(0);
    // Absent in settings written before names were kept: the index alone
    // decides then, as it always did.
    const QString storedNameText = Registry::readSetting(kAdapterNameSetting, QString());
    const QByteArray storedName =
        stored != 0 ? Conversions::textToInterfaceName(storedNameText) : QByteArray();

    // The fill runs once, on an empty list; should it ever run again, the
    // entries must still line up with adapterIndexes.
    {
        const QSignalBlocker quiet(ui->cmdAdapters);
        ui->cmdAdapters->clear();
    }
    adapterIndexes.assign(1, 0);
    adapterRows.clear();

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
        const QStringList entries = entryTexts(*platform.interfaces, rows);
        QComboBox *list = ui->cmdAdapters;
        for (size_t i = 0; i < rows.size(); ++i) {
            const InterfaceRow &row = rows[i];
            // QComboBox makes the first entry it is given current on its own.
            // That selection must neither stand nor reach the handler: only
            // the stored adapter's entry becomes current.
            {
                const QSignalBlocker quiet(list);
                const int before = list->currentIndex();
                list->addItem(entries[qsizetype(i)]);
                if (list->currentIndex() != before)
                    list->setCurrentIndex(before);
            }
            // Selecting runs cmdAdapters_Click now, before the index below is
            // recorded: for entry 0 it sees the free slot, later ones it skips.
            // An index that now carries another name is not the one chosen.
            if (row.index == stored && (storedName.isEmpty() || row.name == storedName))
                list->setCurrentIndex(list->count() - 1);

            if (adapterIndexes.back() == 0)
                adapterIndexes.back() = row.index;
            else
                adapterIndexes.push_back(row.index);
            adapterRows.push_back(row);
        }
    }

    if (stored != 0) {
        Registry::writeSetting(kAdapterSetting, Conversions::adapterToText(stored));
        if (!storedNameText.isEmpty())
            Registry::writeSetting(kAdapterNameSetting, storedNameText);
    }
    adapterName = storedName;

    // The stored index is gone or names another interface (after a reboot,
    // or a link made anew): the interface of the stored name is the one.
    if (ui->cmdAdapters->currentIndex() == -1) {
        const int named = positionNamed(adapterRows, storedName);
        if (named >= 0)
            ui->cmdAdapters->setCurrentIndex(named); // stores its index
    }
}

bool frmMain::listedUnderAnotherName(qint32 index) const {
    const int at = positionOf(adapterRows, index);
    return at >= 0 && !adapterName.isEmpty() && adapterRows[size_t(at)].name != adapterName;
}

void frmMain::refreshAdapters() {
    // Readings taken at rest are of the interface as it was before.
    monitor->leaveRest();
    std::vector<InterfaceRow> rows;
    // A failed read changes nothing; the next change reads again.
    if (!platform.interfaces || platform.interfaces->interfaceTable(rows) != TableResult::Ok)
        return;
    const QStringList entries = entryTexts(*platform.interfaces, rows);

    QComboBox *list = ui->cmdAdapters;
    const int before = list->currentIndex();
    const InterfaceRow *shown =
        before >= 0 && size_t(before) < adapterRows.size() ? &adapterRows[size_t(before)] : nullptr;
    const QString shownEntry = before >= 0 ? list->itemText(before) : QString();

    // The selection stays on its interface: by index while the index still
    // carries the selected name, by name once it does not (the link was made
    // anew under another index).
    int target = positionOf(rows, monitor->selectedAdapter);
    if (!adapterName.isEmpty() && (target < 0 || rows[size_t(target)].name != adapterName)) {
        const int named = positionNamed(rows, adapterName);
        if (named >= 0)
            target = named;
    }
    const InterfaceRow *next = target >= 0 ? &rows[size_t(target)] : nullptr;
    // Another link (or the selected one made anew): the sampler starts
    // afresh on it. The same link with another name or address: only its
    // details and the stored choice are brought up to date.
    const bool anotherLink =
        next && (!shown || shown->index != next->index || shown->type != next->type);
    const bool sameLinkChanged =
        next && !anotherLink && (shown->name != next->name || shownEntry != entries[target]);

    std::vector<qint32> indexes;
    for (const InterfaceRow &row : rows)
        indexes.push_back(row.index);
    if (indexes.empty())
        indexes.push_back(0);
    bool sameList = indexes == adapterIndexes && qsizetype(rows.size()) == list->count();
    for (qsizetype i = 0; sameList && i < entries.size(); ++i)
        sameList = entries[i] == list->itemText(int(i));
    if (sameList && !anotherLink && !sameLinkChanged && (target >= 0 || before == -1))
        return;

    {
        // No entry may become current by itself, nor the handler run for
        // an entry that merely moved.
        const QSignalBlocker quiet(list);
        list->clear();
        list->addItems(entries);
        list->setCurrentIndex(anotherLink || sameLinkChanged ? -1 : target);
    }
    adapterIndexes = std::move(indexes);
    adapterRows = std::move(rows);
    if (anotherLink)
        monitor->trackedAdapter = 0;
    if (anotherLink || sameLinkChanged)
        list->setCurrentIndex(target); // runs cmdAdapters_Click
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
    // During the fill the entry's interface may not be recorded yet (index
    // 0, no name): then both settings say "none" until the fill puts the
    // stored ones back.
    const QByteArray name = index != 0 && size_t(position) < adapterRows.size()
                                ? adapterRows[size_t(position)].name
                                : QByteArray();
    Registry::writeSetting(kAdapterSetting, Conversions::adapterToText(index));
    Registry::writeSetting(kAdapterNameSetting, Conversions::interfaceNameToText(name));
    adapterName = name;
    showAdapterDetails(index);
    monitor->selectedAdapter = index;
    monitor->selectedDescription = ui->lblInfoAdapterName->text();
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

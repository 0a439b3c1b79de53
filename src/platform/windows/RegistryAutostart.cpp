#include "platform/windows/RegistryAutostart.h"

#include <QDir>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"ZarnBandwidth";

// The key, open for the given access; closed when the object goes.
class RunKey {
public:
    RunKey(REGSAM access, bool create) {
        const LSTATUS status = create ? RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0,
                                                        access, nullptr, &key_, nullptr)
                                      : RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, access, &key_);
        if (status != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RunKey() {
        if (key_)
            RegCloseKey(key_);
    }
    RunKey(const RunKey &) = delete;
    RunKey &operator=(const RunKey &) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

bool RegistryAutostart::exists() const {
    const RunKey key(KEY_QUERY_VALUE, false);
    return key.get() && RegQueryValueExW(key.get(), kValueName, nullptr, nullptr, nullptr,
                                         nullptr) == ERROR_SUCCESS;
}

void RegistryAutostart::enable(const QString &programPath) {
    const RunKey key(KEY_SET_VALUE, true);
    if (!key.get())
        return;
    const std::wstring data = commandLine(programPath).toStdWString();
    // A REG_SZ carries its terminating NUL, so that readers which trust the
    // data to end in one do not run past it.
    RegSetValueExW(key.get(), kValueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                   DWORD((data.size() + 1) * sizeof(wchar_t)));
}

void RegistryAutostart::disable() {
    const RunKey key(KEY_SET_VALUE, false);
    if (key.get())
        RegDeleteValueW(key.get(), kValueName);
}

QString RegistryAutostart::commandLine(const QString &programPath) {
    QString program = QDir::toNativeSeparators(programPath);
    if (program.contains(QLatin1Char(' ')))
        program = QLatin1Char('"') + program + QLatin1Char('"');
    return program + QStringLiteral(" -startup");
}

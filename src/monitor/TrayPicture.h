#pragma once

#include <QString>

// Load of one direction, and the tray picture made of an upload and a
// download level: sixteen pictures in all, picNoneNone being the idle one.
enum class LoadLevel { Red, Yellow, Green, None };

struct TrayPicture {
    LoadLevel up = LoadLevel::None;
    LoadLevel down = LoadLevel::None;

    friend bool operator==(const TrayPicture &, const TrayPicture &) = default;

    // "picRedGreen" and so on: the object name of the picture holder.
    QString name() const;
    static constexpr TrayPicture idle() { return {LoadLevel::None, LoadLevel::None}; }
};

QString loadLevelName(LoadLevel level);

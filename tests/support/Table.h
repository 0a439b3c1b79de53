#pragma once

// One line a table row in Qt Test data functions: auto r = table<QString, int>({"text",
// "interval"}); r("row", "300", 300), whose values convert to the column types.
// cell<int>("interval") gives a value as QFETCH does, within an expression.

#include <QtTest>
#include <array>

template <typename... T> auto table(const std::array<const char *, sizeof...(T)> &names) {
    std::size_t i = 0;
    (QTest::addColumn<T>(names[i++]), ...);
    return [](const char *name, T... values) { (QTest::newRow(name) << ... << values); };
}

template <typename T> T cell(const char *column) {
    return *static_cast<T *>(QTest::qData(column, qMetaTypeId<T>()));
}

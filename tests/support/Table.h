#pragma once

// One line a table row in Qt Test data functions.

#include <QtTest>
#include <array>

// columns<QString, int>({"text", "interval"}): the columns of a table.
template <typename... T> void columns(const std::array<const char *, sizeof...(T)> &names) {
    std::size_t i = 0;
    (QTest::addColumn<T>(names[i++]), ...);
}

// row("name", a, b, c): one table row, its values in column order.
template <typename... T> void row(const char *name, T... values) {
    (QTest::newRow(name) << ... << values);
}

// auto r = table<QString, int>({"text", "interval"}); r("row", "300", 300);
// The columns, and a row maker whose parameters convert to the column types.
template <typename... T> auto table(const std::array<const char *, sizeof...(T)> &names) {
    columns<T...>(names);
    return [](const char *name, T... values) { row(name, values...); };
}

// cell<int>("interval"): the current row's value in a column, as QFETCH
// gives it, for use within an expression.
template <typename T> T cell(const char *column) {
    return *static_cast<T *>(QTest::qData(column, qMetaTypeId<T>()));
}

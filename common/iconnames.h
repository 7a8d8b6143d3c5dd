#pragma once

#include <QString>
#include <QVector>

namespace Varnel {

// Category codes of the server tree; they sit above the numeric country range.
enum CategoryCode {
    FavouriteCategory = 1000,
    GamingCategory = 1001,
    HighSpeedCategory = 1002,
    StreamingCategory = 1003,
    AdBlockingCategory = 1004,
};

struct FlagEntry {
    int code;          // ISO 3166-1 numeric
    const char *name;  // resource base name without "flag_"
};

// Every row of the flag table in code order (175 and 178 share a picture).
const QVector<FlagEntry> &flagTable();

// "flag_<name>" for a numeric country code, empty for codes without a flag.
QString flagName(int code);

// Resource path of the icon for a country or category code.
QString iconPath(int code);

} // namespace Varnel

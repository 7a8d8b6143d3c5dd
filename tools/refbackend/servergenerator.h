#pragma once

#include <QJsonArray>

namespace Varnel::RefBackend {

// Large, varied server lists for benchmarks and list tests: both protocols, every
// "connection_type" variant, feature flags, premium entries and many servers per country, all
// on loopback addresses. The same seed gives the same list.
class ServerGenerator
{
public:
    static QJsonArray generate(int count, quint32 seed);

    // The loopback address of the n-th generated server, 127.10.0.1 upwards.
    static QString loopbackAddress(int index);
};

} // namespace Varnel::RefBackend

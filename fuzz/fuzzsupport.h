#pragma once

// What every harness shares: a quiet Qt with an application object and
// private settings (LLVMFuzzerInitialize, in fuzzsupport.cpp), and a few ways
// to cut the input into pieces.

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace VarnelFuzz {

// Aborts with the text, so that libFuzzer keeps the input as a crash.
[[noreturn]] void fail(const char *what);

inline void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

// The input taken piece by piece: a byte, a number, or the bytes up to the
// next separator byte 0xff (or the end).
class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(reinterpret_cast<const char *>(data)), m_size(size) {}

    bool atEnd() const { return m_at >= m_size; }
    quint8 byte() { return m_at < m_size ? quint8(m_data[m_at++]) : 0; }
    quint64 number()
    {
        quint64 value = 0;
        for (int i = 0; i < 8; ++i)
            value = (value << 8) | byte();
        return value;
    }
    QByteArray piece()
    {
        const size_t start = m_at;
        while (m_at < m_size && quint8(m_data[m_at]) != 0xff)
            ++m_at;
        const QByteArray bytes(m_data + start, int(m_at - start));
        if (m_at < m_size)
            ++m_at;
        return bytes;
    }
    QByteArray rest()
    {
        const QByteArray bytes(m_data + m_at, int(m_size - m_at));
        m_at = m_size;
        return bytes;
    }

private:
    const char *m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace VarnelFuzz

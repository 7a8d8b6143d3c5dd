#pragma once

#include <QJsonArray>
#include <QUrlQuery>

#include <httplib.h>

#include <string>

namespace Varnel::RefBackend {

// A form body or query string read the way the client's QUrlQuery writes it: "%XX" is decoded and
// "+" stays a plus sign. (httplib's own parser turns "+" into a blank and cuts values at a second
// "=", which would break Base64 tokens and passwords that hold those characters.)
class FormData
{
public:
    explicit FormData(const std::string &encoded);

    QString value(const QString &name) const;    // empty when absent
    QJsonArray items() const;                     // [[name, value], ...] in the order sent

private:
    QUrlQuery query_;
};

// An item of the request's query string of a web page, decoded as web servers do: like FormData,
// except that "+" is a blank.
QString queryItem(const httplib::Request &request, const char *name);

// Text conversions between httplib's std::string (UTF-8) and Qt.
QString fromStd(const std::string &text);
std::string toStd(const QString &text);

} // namespace Varnel::RefBackend

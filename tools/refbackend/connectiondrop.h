#pragma once

#include <httplib.h>

namespace Varnel::RefBackend {

// Shuts the request's connection down at the socket, so the client sees the connection close
// without any HTTP answer (httplib has no way to leave a request unanswered). Returns false when
// the socket could not be found.
bool dropConnection(const httplib::Request &request);

} // namespace Varnel::RefBackend

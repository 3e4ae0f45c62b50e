#include "platform/name_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace qm::platform {

bool HostNameLookup::Temporary() const {
    return error == EAI_AGAIN || error == EAI_SYSTEM || error == EAI_MEMORY;
}

HostNameLookup LookUpHostName(const SocketAddress& address) {
    char host[NI_MAXHOST] = {};
    HostNameLookup result;
    errno = 0;
    result.error = ::getnameinfo(address.Raw(), address.Length(), host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
    if (result.error == EAI_SYSTEM) result.systemError = errno;
    if (result.error == 0) {
        result.name.assign(host, ::strnlen(host, sizeof host));
        // A success with nothing to show is no answer at all.
        if (result.name.empty()) result.error = EAI_NONAME;
    }
    return result;
}

}  // namespace qm::platform

#include "polling/list_poller.h"

namespace qm::polling {

sockaddr_in PollSender(std::string_view address, uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    const std::string text(address);
    if (inet_pton(AF_INET, text.c_str(), &out.sin_addr) != 1) out.sin_addr.s_addr = INADDR_NONE;
    return out;
}

}  // namespace qm::polling

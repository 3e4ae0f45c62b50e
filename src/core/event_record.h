#pragma once
// The event record: every message the program shows, stores or forwards.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/string_ids.h"
#include "core/syslog_header.h"
#include "platform/clock.h"

namespace qm::core {

// One bit each, so windows and the relay can select types with a mask.
enum EventType : uint32_t {
    kEventSystem = 0x40,    // the program's own service messages
    kEventExternal = 0x20,  // syslog datagrams received by the collector
    kEventInternal = 0x10,  // device pollers
    kEventArchive = 0x08,   // lines reloaded from the log files
};

constexpr uint32_t kNoSeverity = 100;  // nothing was decoded
constexpr uint32_t kDefaultFacility = 5;

struct EventRecord {
    uint32_t type = 0;
    uint32_t severity = kNoSeverity;
    uint32_t facility = kDefaultFacility;
    bool relayed = false;
    // How the received bytes were decoded into raw, message and a suffix's
    // sender (platform::TextCharset), so the relay sends the raw text as it came.
    uint8_t charset = 0;
    std::string sender;   // dotted IPv4, the relay suffix's sender, or "127.0.0.1"
    platform::SystemTime time;
    uint32_t rawLength = 0;  // bytes submitted
    uint64_t sequence = 0;

    // The line up to a relay suffix; empty for System events.
    std::string_view Raw() const { return std::string_view(text_).substr(0, rawSize_); }
    // The syslog message part; empty when the line had none.
    std::string_view Message() const { return std::string_view(text_).substr(messageAt_, messageSize_); }

    // A received line's message is the tail of its raw text, so both live in
    // one buffer and the message is an offset into it: a flood's records
    // then hold each line once, and copies and moves of a record keep both
    // texts right (offsets, not pointers, survive a short string's move).
    // `messageAt` is where the message begins in `raw` (none past its end).
    void SetRaw(std::string raw, size_t messageAt) {
        header_ = SyslogHeader();
        text_ = std::move(raw);
        rawSize_ = static_cast<uint32_t>(text_.size());
        messageAt_ = static_cast<uint32_t>(std::min(messageAt, text_.size()));
        messageSize_ = rawSize_ - messageAt_;
    }
    // An event without raw text: the program's own, or one made by hand.
    void SetMessage(std::string message) {
        header_ = SyslogHeader();
        text_ = std::move(message);
        rawSize_ = 0;
        messageAt_ = 0;
        messageSize_ = static_cast<uint32_t>(text_.size());
    }
    // Any two texts: the message is shared when it is a byte-identical part
    // of the raw text and kept behind it in the same buffer otherwise.
    void SetTexts(std::string_view raw, std::string_view message) {
        header_ = SyslogHeader();
        const size_t found = message.empty() ? raw.size() : raw.rfind(message);
        std::string text;
        text.reserve(raw.size() + (found == std::string_view::npos ? message.size() : 0));
        text.append(raw);
        if (found == std::string_view::npos) text.append(message);
        text_ = std::move(text);
        rawSize_ = static_cast<uint32_t>(raw.size());
        messageAt_ = static_cast<uint32_t>(found == std::string_view::npos ? raw.size() : found);
        messageSize_ = static_cast<uint32_t>(message.size());
    }
    // The header fields of the message, read once at intake (ReadHeader).
    // Each view is empty when the message has no such field; Body() is the
    // whole message when no header was recognised.
    const SyslogHeader& Header() const { return header_; }
    std::string_view SenderTime() const { return header_.time.In(Message()); }
    std::string_view Host() const { return header_.host.In(Message()); }
    std::string_view App() const { return header_.app.In(Message()); }
    std::string_view ProcId() const { return header_.procId.In(Message()); }
    std::string_view MsgId() const { return header_.msgId.In(Message()); }
    std::string_view StructuredData() const { return header_.data.In(Message()); }
    std::string_view Body() const {
        const std::string_view m = Message();
        return m.substr(std::min<size_t>(header_.bodyAt, m.size()));
    }
    void ReadHeader() { header_ = ParseSyslogHeader(Message()); }

    // Heap bytes the texts hold, for the intake's accounting of a backlog.
    size_t TextBytes() const { return text_.capacity() > 15 ? text_.capacity() + 1 : 0; }

private:
    std::string text_;  // the raw text, then the message where it is not a part of it
    uint32_t rawSize_ = 0;
    uint32_t messageAt_ = 0;
    uint32_t messageSize_ = 0;
    SyslogHeader header_;
};

using EventPtr = std::unique_ptr<EventRecord>;

// String ids of the names, for displays. The severity and facility names
// follow one another in the table in syslog order.
static_assert(str::kSeverityDebug == str::kSeverityEmergency + 7 && str::kFacilityLocal7 == str::kFacilityKernel + 23);
constexpr uint32_t SeverityNameId(uint32_t severity) {
    return severity <= 7 ? str::kSeverityEmergency + severity : str::kSeverityUnknown;
}
constexpr uint32_t FacilityNameId(uint32_t facility) {
    return facility <= 23 ? str::kFacilityKernel + facility : str::kFacilityNone;
}
constexpr uint32_t EventTypeLabelId(uint32_t type) {
    switch (type) {
        case kEventSystem: return str::kEventTypeSystem;
        case kEventExternal: return str::kEventTypeExternal;
        case kEventInternal: return str::kEventTypeInternal;
        case kEventArchive: return str::kEventTypeArchive;
        default: return str::kEventTypeNone;
    }
}

}  // namespace qm::core

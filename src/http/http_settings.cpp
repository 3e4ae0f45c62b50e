#include "http/http_settings.h"

#include "core/string_ids.h"

namespace qm::http {

using core::FieldTable;

const FieldTable<HttpCommon>& HttpCommon::Fields() {
    static const FieldTable<HttpCommon> t = [] {
        FieldTable<HttpCommon> f;
        const HttpCommon d;
        f.Struct<&HttpCommon::enableService>("EnableService", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldEnableService)
            .Struct<&HttpCommon::param>("Param", 1)
            .Kind(core::FieldKind::Bits)
            .Label(core::str::kFieldOptions)
            // What the server cannot use falls back to the default, not to a bound.
            .Struct<&HttpCommon::chunkSize>("ChunkSize", 4)
            .Range(100, 10240)
            .Fallback(d.chunkSize)
            .Label(core::str::kFieldChunkSize)
            .Struct<&HttpCommon::errorTimeout>("ErrorTimeout", 8)
            .Range(900, 120000)
            .Fallback(d.errorTimeout)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kFieldErrorPause)
            .Struct<&HttpCommon::maxConn>("MaxConn", 12)
            .Range(1, 100)
            .Fallback(d.maxConn)
            .Label(core::str::kFieldMaxConnections)
            .Struct<&HttpCommon::timeout>("Timeout", 16)
            .Range(900, 120000)
            .Fallback(d.timeout)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kFieldIdleTimeout);
        return f;
    }();
    return t;
}

const FieldTable<HttpServerItem>& HttpServerItem::Fields() {
    static const FieldTable<HttpServerItem> t = [] {
        FieldTable<HttpServerItem> f;
        const HttpServerItem d;
        f.Struct<&HttpServerItem::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .WhenMissing(0)
            .Label(core::str::kEnabled)
            .Text<&HttpServerItem::name>("StrName", kHttpNameCapacity, 2)
            .Kind(core::FieldKind::Address)
            .Label(core::str::kFieldAddress)
            .Struct<&HttpServerItem::param>("Param", 66)
            .Bit(0x80, core::str::kUseDns)
            .Label(core::str::kFieldOptions)
            .Struct<&HttpServerItem::eventParam>("EventParam", 67)
            .Kind(core::FieldKind::Bits)
            .Names(core::EventTypeNames(0x30))
            .Label(core::str::kEventTypesLabel)
            .Struct<&HttpServerItem::port>("Port", 68)
            .Kind(core::FieldKind::Port)
            .Range(1, 65535)
            .Fallback(d.port)
            .Label(core::str::kPort)
            .Struct<&HttpServerItem::msgBufferSize>("MsgBufferSize", 72)
            .Range(1, 100)
            .Fallback(d.msgBufferSize)
            .Label(core::str::kFieldEventsPerAnswer);
        return f;
    }();
    return t;
}

}  // namespace qm::http

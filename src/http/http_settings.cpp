#include "http/http_settings.h"

namespace qm::http {

using core::FieldTable;

const FieldTable<HttpCommon>& HttpCommon::Fields() {
    static const FieldTable<HttpCommon> t = [] {
        FieldTable<HttpCommon> f;
        f.Struct<&HttpCommon::enableService>("EnableService", 0)
            .Struct<&HttpCommon::param>("Param", 1)
            .Struct<&HttpCommon::chunkSize>("ChunkSize", 4)
            .Struct<&HttpCommon::errorTimeout>("ErrorTimeout", 8)
            .Struct<&HttpCommon::maxConn>("MaxConn", 12)
            .Struct<&HttpCommon::timeout>("Timeout", 16);
        return f;
    }();
    return t;
}

const FieldTable<HttpServerItem>& HttpServerItem::Fields() {
    static const FieldTable<HttpServerItem> t = [] {
        FieldTable<HttpServerItem> f;
        f.Struct<&HttpServerItem::enable>("Enable", 0)
            .WhenMissing(0)
            .Text<&HttpServerItem::name>("StrName", kHttpNameCapacity, 2)
            .Struct<&HttpServerItem::param>("Param", 66)
            .Struct<&HttpServerItem::eventParam>("EventParam", 67)
            .Struct<&HttpServerItem::port>("Port", 68)
            .Struct<&HttpServerItem::msgBufferSize>("MsgBufferSize", 72);
        return f;
    }();
    return t;
}

namespace {
uint32_t InRange(uint32_t value, uint32_t low, uint32_t high, uint32_t otherwise) {
    return value >= low && value <= high ? value : otherwise;
}
}  // namespace

HttpCommon Sanitized(HttpCommon c) {
    const HttpCommon d;
    c.chunkSize = InRange(c.chunkSize, 100, 10240, d.chunkSize);
    c.errorTimeout = InRange(c.errorTimeout, 900, 120000, d.errorTimeout);
    c.maxConn = InRange(c.maxConn, 1, 100, d.maxConn);
    c.timeout = InRange(c.timeout, 900, 120000, d.timeout);
    return c;
}

HttpServerItem Sanitized(HttpServerItem i) {
    const HttpServerItem d;
    i.port = InRange(i.port, 1, 65535, d.port);
    i.msgBufferSize = InRange(i.msgBufferSize, 1, 100, d.msgBufferSize);
    return i;
}

}  // namespace qm::http

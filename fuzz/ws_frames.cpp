// The WebSocket client's receive path fed arbitrary server bytes in arbitrary splits: the receive
// buffer, the complete-frame test, frame parsing, control frames, message assembly and delivery,
// exactly as the worker runs them (append what a read brought, handle one frame, deliver), checked
// against a plain model of the frame rules that reads the whole stream at once. The same bytes then
// go out as the payload of a built frame, which must parse back to them.
//
// Input: one byte that picks the splits (splits.h), then the server's bytes.
#include "check.h"
#include "rws_private.h"
#include "splits.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using message = std::pair<int, std::string>; // opcode, payload

std::vector<message> delivered;
void on_text(rws_client *, const char *d, uint32_t n) { delivered.push_back({RWS_OP_TEXT, std::string(d, n)}); }
void on_binary(rws_client *, const char *d, uint32_t n) { delivered.push_back({RWS_OP_BINARY, std::string(d, n)}); }

// What the model expects from the whole stream.
struct expectation {
    std::vector<message> delivered;
    std::vector<std::string> pongs; // payloads of the pongs queued, in order
    int fault = RWS_FAULT_NONE;     // the fault that ended the connection, if any
};

// The frame rules, written out plainly: frames one after the other, a close or a frame declared
// over the limit ends everything, data frames join the open message, final messages are delivered.
expectation model(const uint8_t *b, size_t n)
{
    expectation e;
    bool open = false; // a message waits for more fragments
    int open_opcode = 0;
    std::string open_payload;
    size_t pos = 0;
    while (n - pos >= 2) {
        const uint8_t *f = b + pos;
        size_t left = n - pos;
        bool masked = (f[1] & 0x80) != 0;
        unsigned len7 = f[1] & 0x7f;
        size_t header = 2 + (masked ? 4 : 0) + (len7 == 126 ? 2 : 0) + (len7 == 127 ? 8 : 0);
        if (left < header)
            break;
        uint64_t length = len7;
        if (len7 == 126)
            length = (uint64_t)f[2] << 8 | f[3];
        if (len7 == 127)
            length = (uint64_t)f[6] << 24 | (uint64_t)f[7] << 16 | (uint64_t)f[8] << 8 | f[9];
        if (header + length > RWS_MAX_FRAME_SIZE) {
            e.fault = RWS_FAULT_TOO_LARGE;
            break;
        }
        if (left < header + length)
            break;
        std::string payload((const char *)f + header, (size_t)length);
        for (size_t i = 0; masked && i < payload.size(); i++)
            payload[i] = (char)(payload[i] ^ f[header - 4 + i % 4]);
        pos += header + (size_t)length;
        int opcode = f[0] & 0x0f;
        bool fin = (f[0] & 0x80) != 0;
        if (opcode == RWS_OP_CLOSE) {
            e.fault = RWS_FAULT_PEER_CLOSED;
            break;
        }
        if (opcode == RWS_OP_PING)
            e.pongs.push_back(payload);
        if (opcode > RWS_OP_BINARY)
            continue;
        if (open) {
            open_payload += payload;
        } else if (!payload.empty()) {
            open = true;
            open_opcode = opcode;
            open_payload = payload;
        } else {
            continue; // an empty message, or an empty first fragment, is dropped
        }
        if (fin) {
            if (open_opcode != RWS_OP_CONTINUATION)
                e.delivered.push_back({open_opcode, open_payload});
            open = false;
        }
    }
    return e;
}

// The unmasked payload of an outgoing frame, after checking its header: final, masked, opcode.
std::string pong_payload(const rws_packet *p)
{
    if (p->size < 2 || p->data[0] != 0x8a || !(p->data[1] & 0x80) || p->header_size > p->size)
        std::abort();
    std::string out((const char *)p->data + p->header_size, p->size - p->header_size);
    for (size_t i = 0; i < out.size(); i++)
        out[i] = (char)(out[i] ^ p->data[p->header_size - 4 + i % 4]);
    return out;
}

// The stream's bytes as the payload of an outgoing frame, masked and not: the built frame is
// complete on its own, and parsing it gives the payload back.
void round_trip(int opcode, const uint8_t *payload, size_t n)
{
    for (bool masked : {false, true}) {
        rws_packet *p = rws_packet_new();
        p->opcode = opcode;
        p->is_masked = masked;
        rws_packet_build(p, payload, (uint32_t)n);
        check(p->size == p->header_size + n && rws_packet_wire_size(p->data, p->size) == p->size &&
                  rws_packet_wire_size(p->data, p->size - 1) == 0,
              "built frame is not exactly one complete frame");
        rws_packet *back = rws_packet_parse(p->data, p->size);
        check(back != nullptr && back->opcode == opcode && back->is_final && back->is_masked == masked,
              "built frame parses to another header");
        if (opcode != RWS_OP_CLOSE && opcode != RWS_OP_PONG)
            check(back->size == n && (n == 0 || std::memcmp(back->data, payload, n) == 0),
                  "built frame parses to another payload");
        rws_packet_free(back);
        rws_packet_free(p);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned split = data[0];
    const uint8_t *stream = data + 1;
    const size_t n = size - 1;

    delivered.clear();
    rws_client *c = rws_client_create();
    rws_client_set_on_text(c, on_text);
    rws_client_set_on_binary(c, on_binary);
    c->state = RWS_ST_IDLE;
    c->connected = true;

    // As the worker does: each read appends what arrived, then frames are handled one per pass
    // and finished messages delivered, while the connection stays idle.
    piece_sizes pieces(split);
    size_t pos = 0;
    while (pos < n && c->state == RWS_ST_IDLE) {
        size_t piece = pieces.next(n - pos);
        rws_rx_append(c, stream + pos, (uint32_t)piece);
        pos += piece;
        while (c->state == RWS_ST_IDLE && rws_handle_frame(c))
            if (c->state == RWS_ST_IDLE && c->rx_messages)
                rws_deliver(c);
        check(c->rx_length <= c->rx_capacity && c->rx_capacity <= RWS_MAX_FRAME_SIZE, "receive buffer bounds");
    }

    expectation e = model(stream, n);
    check(delivered == e.delivered, "delivered messages differ from the model");
    check(rws_fault_code(rws_client_get_error(c)) == e.fault, "fault differs from the model");
    check((c->state == RWS_ST_DROPPED) == (e.fault != RWS_FAULT_NONE), "state differs from the model");
    std::vector<std::string> pongs;
    for (rws_list *node = c->tx_queue; node; node = node->next)
        pongs.push_back(pong_payload(node->value));
    check(pongs == e.pongs, "queued pongs differ from the model");

    rws_client_disconnect(c);
    round_trip(split & 0x0f, stream, n);
    return 0;
}

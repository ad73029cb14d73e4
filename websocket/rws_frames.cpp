// Frame codec and message assembly: outgoing frames built in one allocation, complete frames cut
// out of the receive buffer, control frames answered, fragments joined, finished messages handed
// to the callbacks. No socket work happens here.
#include "rws_private.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// A fresh masking key from the process's generator: two 15-bit draws r1, r2 give (r1 / 16383 + 1) * r2,
// laid out lowest byte first.
rws_packet *rws_packet_new()
{
    rws_packet *p = static_cast<rws_packet *>(rws_alloc_zeroed(sizeof(rws_packet)));
    uint32_t r1 = static_cast<uint32_t>(std::rand() & 0x7fff);
    uint32_t r2 = static_cast<uint32_t>(std::rand() & 0x7fff);
    uint32_t key = (r1 / 16383 + 1) * r2;
    for (int i = 0; i < 4; i++)
        p->mask[i] = static_cast<uint8_t>(key >> (8 * i));
    return p;
}

void rws_packet_build(rws_packet *p, const void *payload, uint32_t length)
{
    uint8_t header[14];
    uint8_t masked = p->is_masked ? 0x80 : 0;
    size_t size = 2;
    header[0] = static_cast<uint8_t>(0x80 | (p->opcode & 0x0f));
    if (length <= 125) {
        header[1] = static_cast<uint8_t>(masked | length);
    } else if (length <= 0xffff) {
        header[1] = static_cast<uint8_t>(masked | 126);
        header[2] = static_cast<uint8_t>(length >> 8);
        header[3] = static_cast<uint8_t>(length);
        size = 4;
    } else {
        header[1] = static_cast<uint8_t>(masked | 127);
        std::memset(header + 2, 0, 4);
        for (int i = 0; i < 4; i++)
            header[6 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
        size = 10;
    }
    if (p->is_masked) {
        std::memcpy(header + size, p->mask, 4);
        size += 4;
    }
    rws_release(p->data);
    p->data = static_cast<uint8_t *>(rws_alloc(size + length));
    std::memcpy(p->data, header, size);
    uint8_t *out = p->data + size;
    if (length > 0)
        std::memcpy(out, payload, length);
    if (p->is_masked)
        for (uint32_t i = 0; i < length; i++)
            out[i] ^= p->mask[i % 4];
    p->size = static_cast<uint32_t>(size + length);
    p->header_size = static_cast<uint8_t>(size);
    p->is_final = true;
}

rws_packet *rws_packet_masked(int opcode, const void *payload, uint32_t length)
{
    rws_packet *p = rws_packet_new();
    p->opcode = opcode;
    p->is_masked = true;
    rws_packet_build(p, payload, length);
    return p;
}

// Header size and payload length of the frame at the start of the buffer; false until the whole
// header has arrived. Lengths in the 127 form are read from bytes 6 to 9 only.
static bool read_header(const uint8_t *buffer, uint64_t length, uint32_t *header_size, uint64_t *payload)
{
    if (buffer == nullptr || length < 2)
        return false;
    uint32_t len7 = buffer[1] & 0x7f;
    uint32_t size = 2u + ((buffer[1] & 0x80) ? 4u : 0u) + (len7 == 126 ? 2u : 0u) + (len7 == 127 ? 8u : 0u);
    if (length < size)
        return false;
    if (len7 <= 125)
        *payload = len7;
    else if (len7 == 126)
        *payload = (static_cast<uint64_t>(buffer[2]) << 8) | buffer[3];
    else
        *payload = (static_cast<uint64_t>(buffer[6]) << 24) | (static_cast<uint64_t>(buffer[7]) << 16) |
                   (static_cast<uint64_t>(buffer[8]) << 8) | buffer[9];
    *header_size = size;
    return true;
}

bool rws_packet_declared_size(const uint8_t *buffer, uint64_t length, uint64_t *total)
{
    uint32_t header_size;
    uint64_t payload;
    if (!read_header(buffer, length, &header_size, &payload))
        return false;
    *total = header_size + payload;
    return true;
}

uint64_t rws_packet_wire_size(const uint8_t *buffer, uint64_t length)
{
    uint64_t total;
    if (!rws_packet_declared_size(buffer, length, &total))
        return 0;
    return total <= length ? total : 0;
}

bool rws_packet_over_limit(const uint8_t *buffer, uint64_t length)
{
    uint64_t total;
    return rws_packet_declared_size(buffer, length, &total) && total > RWS_MAX_FRAME_SIZE;
}

rws_packet *rws_packet_parse(const uint8_t *buffer, uint64_t frame_size)
{
    uint32_t header_size;
    uint64_t payload;
    if (!read_header(buffer, frame_size, &header_size, &payload) || header_size + payload > frame_size)
        return nullptr;
    rws_packet *p = static_cast<rws_packet *>(rws_alloc_zeroed(sizeof(rws_packet)));
    p->opcode = buffer[0] & 0x0f;
    p->is_final = (buffer[0] & 0x80) != 0;
    p->is_masked = (buffer[1] & 0x80) != 0;
    p->header_size = static_cast<uint8_t>(header_size);
    if (p->is_masked)
        std::memcpy(p->mask, buffer + header_size - 4, 4);
    // Close and pong frames carry nothing the client uses.
    if (p->opcode == RWS_OP_CLOSE || p->opcode == RWS_OP_PONG || payload == 0)
        return p;
    p->size = static_cast<uint32_t>(payload);
    p->data = static_cast<uint8_t *>(rws_alloc(p->size));
    std::memcpy(p->data, buffer + header_size, p->size);
    if (p->is_masked)
        for (uint32_t i = 0; i < p->size; i++)
            p->data[i] ^= p->mask[i % 4];
    return p;
}

void rws_packet_append(rws_packet *p, const rws_packet *other)
{
    if (other->size == 0)
        return;
    uint8_t *joined = static_cast<uint8_t *>(rws_alloc(static_cast<size_t>(p->size) + other->size));
    if (p->size > 0)
        std::memcpy(joined, p->data, p->size);
    std::memcpy(joined + p->size, other->data, other->size);
    rws_release(p->data);
    p->data = joined;
    p->size += other->size;
}

void rws_packet_free(rws_packet *p)
{
    if (p == nullptr)
        return;
    rws_release(p->data);
    rws_release(p);
}

// 1, 2, ..., 10,000,000, then 1 again.
uint32_t rws_next_message_id(rws_client *c)
{
    uint32_t id = ++c->message_counter;
    if (id > 9999999)
        c->message_counter = 0;
    return id;
}

// ---- client-level frame work -------------------------------------------------------------------------

rws_packet *rws_make_control(rws_client *c, int opcode)
{
    char number[16];
    int length = std::snprintf(number, sizeof number, "%u", rws_next_message_id(c));
    return rws_packet_masked(opcode, number, static_cast<uint32_t>(length));
}

void rws_queue_packet(rws_client *c, rws_packet *p)
{
    rws_mutex_lock(c->queue_lock);
    rws_list_append(&c->tx_queue, p);
    rws_mutex_unlock(c->queue_lock);
}

// The last message in rx_messages that still waits for fragments, or null.
static rws_packet *pending_message(rws_client *c)
{
    rws_packet *pending = nullptr;
    for (rws_list *node = c->rx_messages; node; node = node->next)
        if (node->value && !node->value->is_final)
            pending = node->value;
    return pending;
}

// Joins a data frame to the pending message or starts a message with it. A message that would grow
// past the frame limit ends the connection with a fault of its own.
static void assemble(rws_client *c, rws_packet *frame)
{
    rws_packet *pending = pending_message(c);
    if (pending) {
        if (static_cast<uint64_t>(pending->size) + frame->size > RWS_MAX_FRAME_SIZE) {
            rws_fault_set(c, RWS_FAULT_TOO_LARGE, RWS_TEXT_TOO_LARGE);
            c->state = RWS_ST_DROPPED;
        } else {
            rws_packet_append(pending, frame);
            pending->is_final = frame->is_final;
        }
        rws_packet_free(frame);
    } else if (frame->size > 0) {
        rws_list_append(&c->rx_messages, frame);
    } else {
        rws_packet_free(frame);
    }
}

void rws_dispatch(rws_client *c, rws_packet *frame)
{
    switch (frame->opcode) {
    case RWS_OP_CONTINUATION:
    case RWS_OP_TEXT:
    case RWS_OP_BINARY:
        assemble(c, frame);
        return;
    case RWS_OP_CLOSE:
        rws_fault_set(c, RWS_FAULT_PEER_CLOSED, RWS_TEXT_PEER_CLOSED);
        c->state = RWS_ST_DROPPED;
        break;
    case RWS_OP_PING:
        rws_queue_packet(c, rws_packet_masked(RWS_OP_PONG, frame->data, frame->size));
        break;
    default:
        break;
    }
    rws_packet_free(frame);
}

void rws_deliver(rws_client *c)
{
    bool done = true;
    for (rws_list *node = c->rx_messages; node; node = node->next) {
        rws_packet *m = node->value;
        if (m == nullptr)
            continue;
        if (!m->is_final) {
            done = false;
            continue;
        }
        if (m->opcode == RWS_OP_TEXT && c->on_text)
            c->on_text(c, reinterpret_cast<const char *>(m->data), m->size);
        else if (m->opcode == RWS_OP_BINARY && c->on_binary)
            c->on_binary(c, reinterpret_cast<const char *>(m->data), m->size);
        rws_packet_free(m);
        node->value = nullptr;
    }
    if (done) {
        rws_list_free(c->rx_messages);
        c->rx_messages = nullptr;
    }
}

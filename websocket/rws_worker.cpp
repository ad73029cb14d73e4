// The connection worker: a polling loop with a fixed 5 ms pause that connects, runs the handshake,
// then sends queued frames, reads the socket, handles one frame per pass and delivers messages,
// until the connection fails, the server closes it or the application does. The socket work itself
// is in rws_socket.cpp.
#include "rws_private.h"

#include <cstdlib>
#include <cstring>

namespace {

// Grows rx_buffer to size bytes, keeping its contents. realloc moves the block only when it must
// (large blocks are remapped, not copied), so a frame of many megabytes arriving 8192 bytes at a
// time does not cost a full copy per read.
void grow_rx_buffer(rws_client *c, uint32_t size)
{
    if (size == c->rx_capacity)
        return;
    void *res = size > 0 ? std::realloc(c->rx_buffer, size) : nullptr;
    RWS_CHECK(res && (size > 0));
    c->rx_buffer = static_cast<uint8_t *>(res);
    c->rx_capacity = size;
}

// Close step: one close frame sent at once, then END and a 200 ms pause. The fault that ended the
// connection (if any) stays the client's fault whatever the close frame's send does.
void close_step(rws_client *c)
{
    rws_fault *kept = c->error;
    c->error = nullptr;
    rws_packet *close = rws_make_control(c, RWS_OP_CLOSE);
    rws_send_bytes(c, close->data, close->size);
    rws_packet_free(close);
    rws_fault_clear(c);
    c->error = kept;
    c->state = RWS_ST_END;
    rws_thread_sleep(RWS_RETRY_SLEEP_MS);
}

// Sends every queued frame in order; a failed send drops the rest of the queue and the connection.
void drain_tx_queue(rws_client *c)
{
    rws_mutex_lock(c->queue_lock);
    bool failed = false;
    for (rws_list *node = c->tx_queue; node && !failed && c->connected; node = node->next) {
        rws_packet *p = node->value;
        node->value = nullptr;
        if (p)
            failed = !rws_send_bytes(c, p->data, p->size);
        rws_packet_free(p);
    }
    rws_list_free_packets(&c->tx_queue);
    if (failed && c->error)
        c->state = RWS_ST_DROPPED;
    rws_mutex_unlock(c->queue_lock);
}

// The connection has ended (the peer closed or reset it, or a read or send failed): every complete
// frame that arrived before the end is handled, in order, up to a close frame, so that its message
// is delivered before on_disconnected; an incomplete tail is dropped.
void handle_remaining_frames(rws_client *c)
{
    rws_handshake_skip_reply(c);
    while (rws_packet_wire_size(c->rx_buffer, c->rx_length) > 0) {
        bool close = (c->rx_buffer[0] & 0x0f) == RWS_OP_CLOSE;
        rws_handle_frame(c);
        if (close)
            break;
    }
    c->rx_length = 0;
    c->state = RWS_ST_DROPPED;
}

// The idle pass: a ping every RWS_PING_PASSES passes, the queue, then the socket and the first
// complete frame, if any (one frame per pass).
void idle_pass(rws_client *c, int *passes)
{
    if (*passes >= RWS_PING_PASSES) {
        *passes = 0;
        if (c->connected)
            rws_queue_packet(c, rws_make_control(c, RWS_OP_PING));
    }
    if (c->connected)
        drain_tx_queue(c);
    if (c->connected && c->state == RWS_ST_IDLE && rws_read_socket(c)) {
        rws_handshake_skip_reply(c);
        rws_handle_frame(c);
        return;
    }
    if (c->socket == NO_SOCKET)
        handle_remaining_frames(c);
}

// The state's work, done under state_lock.
void locked_work(rws_client *c, int *passes)
{
    switch (c->state.load()) {
    case RWS_ST_IDLE:
        idle_pass(c, passes);
        break;
    case RWS_ST_CONNECT:
        rws_connect_step(c);
        break;
    case RWS_ST_HANDSHAKE_SEND:
        rws_handshake_send_step(c);
        break;
    case RWS_ST_HANDSHAKE_WAIT:
        rws_handshake_wait_step(c);
        break;
    case RWS_ST_CLOSE:
        close_step(c);
        break;
    default:
        break;
    }
}

// The work after the lock: callbacks. A state that rws_client_disconnect changed in between wins,
// so no callback follows a disconnect that got there first.
void unlocked_work(rws_client *c)
{
    int32_t state = c->state.load();
    if (state == RWS_ST_OPENED) {
        if (c->state.compare_exchange_strong(state, RWS_ST_IDLE) && c->on_connected)
            c->on_connected(c);
    } else if (state == RWS_ST_DROPPED) {
        if (c->state.compare_exchange_strong(state, RWS_ST_END)) {
            if (c->rx_messages)
                rws_deliver(c); // messages that arrived before the end come first
            close_step(c);
            if (c->on_disconnected)
                c->on_disconnected(c);
        }
    } else if (state == RWS_ST_IDLE && c->rx_messages) {
        rws_deliver(c);
    }
}

} // namespace

bool rws_handle_frame(rws_client *c)
{
    uint64_t size = rws_packet_wire_size(c->rx_buffer, c->rx_length);
    if (size == 0) {
        // Refused as soon as its header is in, rather than buffering up to the limit first.
        if (rws_packet_over_limit(c->rx_buffer, c->rx_length)) {
            rws_fault_set(c, RWS_FAULT_TOO_LARGE, RWS_TEXT_TOO_LARGE);
            c->state = RWS_ST_DROPPED;
        }
        return false;
    }
    rws_dispatch(c, rws_packet_parse(c->rx_buffer, size));
    rws_rx_consume(c, static_cast<uint32_t>(size));
    return true;
}

void rws_rx_consume(rws_client *c, uint32_t count)
{
    if (count >= c->rx_length) {
        c->rx_length = 0;
        return;
    }
    std::memmove(c->rx_buffer, c->rx_buffer + count, c->rx_length - count);
    c->rx_length -= count;
}

void rws_rx_append(rws_client *c, const void *bytes, uint32_t count)
{
    if (c->rx_capacity - c->rx_length < count) {
        uint64_t grown = static_cast<uint64_t>(c->rx_capacity) + count;
        grow_rx_buffer(c, grown < RWS_MAX_FRAME_SIZE ? static_cast<uint32_t>(grown) : RWS_MAX_FRAME_SIZE);
    }
    std::memcpy(c->rx_buffer + c->rx_length, bytes, count);
    c->rx_length += count;
}

void rws_worker_main(void *client)
{
    rws_client *c = static_cast<rws_client *>(client);
    int passes = 0;
    while (c->state.load() < RWS_ST_END) {
        passes++;
        rws_mutex_lock(c->state_lock);
        locked_work(c, &passes);
        rws_mutex_unlock(c->state_lock);
        unlocked_work(c);
        rws_thread_sleep(RWS_PASS_SLEEP_MS);
    }
    rws_mutex_lock(c->state_lock);
    rws_close_socket(c);
    c->worker = nullptr;
    rws_mutex_unlock(c->state_lock);
    rws_client_drop(c);
}

// The command channel to the camera: three plain operations over one WebSocket client of the
// process (scheme "ws", path "/"). They never block; what happens on the network arrives through the
// callbacks, on the client's worker thread. In the disconnected callback, rws_client_get_error with
// rws_fault_code / rws_fault_text tells why.
#pragma once

#include "rws.h"

// Creates a client for ws://address:port/, hands it the callbacks and asks it to connect. 0 when
// connecting was asked for (a configuration the client refuses, such as an empty address or a port
// of 0, records fault RWS_FAULT_CONFIG and no callback ever comes); -1 when no client could be made.
// A later open makes a new client; the earlier one is left as it is.
int device_channel_open(const char *address, int port, rws_on_client on_disconnected, rws_on_client on_connected,
                        rws_on_data on_text, rws_on_data on_binary);

// Queues one text message for the camera. 0 when queued, -1 for an empty text or no channel.
int device_channel_send(const char *text);

// The channel's current client (null when none is open), to tell its callbacks from those of an
// earlier one. Safe to call from the callbacks: the client is current from before it connects until
// the channel is closed.
const rws_client *device_channel_client();

// How far the open channel has got, in words for the diagnostics log: no TCP connection yet, no
// answer to the WebSocket handshake yet, connected, or ended.
const char *device_channel_progress();

// Closes the channel and gives its client up (a close frame when open, no callback). Always 0.
int device_channel_close();

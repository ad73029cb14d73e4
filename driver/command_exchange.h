// The exchange with the camera: the command channel opened and waited for, the "pc_firmware_up"
// command with the image's URL and MD5, and the wait for the camera's answer with its outcome and
// the Wi-Fi recovery.
#pragma once

#include "driver.h"

// Opens the command channel to the camera's port 9999 and waits for it: four one-second waits, then
// a second attempt (the first closed) with four more. Returns 0 connected, or the run's exit code
// EXIT_CHANNEL_NOT_OPENED, EXIT_SECOND_CHANNEL_NOT_OPENED or EXIT_NOT_CONNECTED (outcome raised,
// clean-up done).
int open_command_channel(upgrade_run *run);

// Takes the carried image's MD5 (the staged image's, as staging checked), builds the image URL and
// the "pc_firmware_up" command and queues it. Returns 0, or the run's exit code
// EXIT_COMMAND_NOT_SENT when it cannot be queued (channel closed, outcome raised, clean-up done).
int send_upgrade_command(upgrade_run *run);

// Waits for the camera's answer (at most the reply limit from the send; over the USB link at most
// as long as the command channel lasts, and on either link not at all when the channel ended before
// the command was sent), closes the channel, rejoins the Wi-Fi and asks the camera again when the
// answer over Wi-Fi is not success (never when the camera cannot have got the command), and raises
// the final outcome. Returns how the run ends.
upgrade_ending await_reply(upgrade_run *run);

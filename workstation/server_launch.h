// The local file server the run starts for the camera: its launchers, the Shttpd launch that reads
// the server's download reports of the staged image, and what the clean-up stops.
#pragma once

// Starts the file server on port 8234 over the firmware directory on a detached launcher thread:
// Shttpd when its program is larger than 1,024 bytes, else node with httpd.js when that script is,
// else none. After starting a launcher, waits until the server that launcher started listens on
// port 8234 (at most 11 s; a server left over from before never counts). Returns 0, or -3 when the
// launcher thread cannot be created (outcome raised, clean-up done).
int start_file_server();

// Starts the Shttpd command line as spawn_with_pipe does (no working directory), with its download
// reports asked for and read: the reports so far are forgotten, and those naming the staged image
// (g_staged_image_path) fill the download's progress from then on.
int spawn_reporting_server(char *command_line);

// For tests and the launch: forgets every report and sets the progress back to none; from now on
// only reports naming the file at image_path (its name after the last "/" or "\") count.
void watch_download_of(const char *image_path);

// The line hook of the launch: a download report naming the watched image updates the progress;
// every other line is ignored. The context is not used.
void take_download_report(const char *line, void *context);

// Create the launcher threads; each returns the new thread's identifier, or 0.
unsigned long start_shttpd_launcher();
unsigned long start_node_launcher();

// The launcher threads' bodies, for the launch of this generation (recorded when the launcher was
// created): stop any server left over, then start one (Shttpd spawned, once the port is free when a
// server was stopped, at most a second later; node through the command interpreter, blocking until
// the server ends). A launch from before the latest clean-up does nothing. Return 0.
int shttpd_launcher(unsigned generation);
int node_launcher(unsigned generation);

// Kills the image's servers ("node.exe" or "Shttpd.exe") when the process list shows one. True when
// it ran the kill command.
bool kill_if_listed(const char *image);

// For the clean-up: no launch pending now may start a server after this (launches begun later
// proceed); and node launchers already past that point are waited for, killing their server until
// their commands have returned.
void stop_server_launches();
void await_node_launcher();

// A run stopped from outside after its guard (Ctrl+C, Ctrl+Break, the console closed; SIGINT,
// SIGTERM, SIGHUP) leaves the PC as a finished run does: the clean-up runs once, the run record
// names the event and the stage it stopped, and the process ends with the system's status for that
// event. The run's thread holds the PC lock (pc_lock.h) except during the stages that wait
// long; the interrupt takes the lock (waiting for the stage that holds it, within a bound).
#pragma once

#include "platform.h"

// Lets the run handle interrupt events once its guard has passed. facup_main does; test programs
// that run the driver in their own process do not.
void enable_interrupt_handling();

// For the guard stage once the run goes on: routes the events to handle_interrupt, when enabled.
void watch_interrupts();

// The platform's interrupt hook: the stage that holds the PC lock awaited, the clean-up, the
// record, the end of the process, all within 4.5 s of a console's close and 15 s of the other
// events (logged when a bound is hit). An event during that handling starts nothing: it waits for
// the first one's end.
void handle_interrupt(int code, const char *name);

// The run's thread: names the stage it begins (for the record of an interrupted run).
void note_running_stage(const char *name);

// The run's thread around a stage that waits long (on the user, the camera): gives the PC lock up,
// so that an interrupt need not wait for the stage, and takes it back after; once an interrupt has
// taken the run over meanwhile, the run goes no further (the interrupt ends the process).
void give_pc_up();
void take_pc_back();

// The run's thread once an interrupt has taken the run over: waits for it to end the process, and
// ends it itself should the interrupt not within its limit.
void await_interrupt_end();

// Shows a box (g_driver_seams.message_box) with the PC lock given up while it shows: a person may
// leave it up for long, and an interrupt's clean-up must never wait for them. Once an interrupt has
// taken the run over meanwhile, the run goes no further.
box_answer show_box(box_style style, const char *caption, const char *text);

// The run's thread, between stages: once an interrupt is pending, gives the PC lock to it and goes
// no further.
void yield_if_interrupted();

// The run's thread, its record written (lock held): a later interrupt only ends the process.
void note_run_ended();

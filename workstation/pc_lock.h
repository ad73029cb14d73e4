// The PC lock: the run's thread changes the PC (directories, staged files, the firewall, the file
// server, the clean-up) only while it holds the PC lock. An interrupt takes the lock and keeps it
// until the process ends, so that nothing changes the PC after the interrupt's clean-up and two
// clean-ups never overlap. A thread may take it again while it holds it (each take needs its give).
#pragma once

// Takes the lock. False, without it, once an interrupt is pending (g_workstation.interrupt_pending)
// unless the caller is that interrupt's thread: the caller then changes nothing, the interrupt's
// clean-up does what is left.
bool pc_lock_take();
void pc_lock_give();

// For the interrupt: sets g_workstation.interrupt_pending and takes the lock for the calling
// thread, waiting at most limit_ms for the stage that holds it. True when taken.
bool pc_lock_take_for_interrupt(int limit_ms);

// For a wait on a person (a message box): gives the lock up whole, however often the calling thread
// has taken it, and returns that count (0 when it does not hold it); pc_lock_take_again takes it
// back as often, and fails as pc_lock_take does (0: nothing to take, true).
int pc_lock_give_all();
bool pc_lock_take_again(int count);

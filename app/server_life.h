// The server's start and stop: jobs a killed server left half-printed, the
// background status queries, and SIGTERM.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <utility>
#include <vector>

// A job the server was printing when it died: its printer's id and its id.
using InterruptedJob = std::pair<int, int>;

// Before the state file is loaded: a job it records as still printing was
// cut off when the server died. It is marked aborted in the file, so that it
// neither blocks its printer nor prints a second time (a second card of an
// ID or member card is worse than none); returns those jobs.
std::vector<InterruptedJob> MarkInterruptedJobs(const std::string& stateFile);
// Saves the state now: a job that starts printing is on record as printing,
// should the server die before PAPPL saves it.
void SaveServerState(pappl_system_t* system);
// After the state file is loaded: gives those jobs their reason.
void ReportInterruptedJobs(pappl_system_t* system, const std::vector<InterruptedJob>& jobs);

// Holds SIGTERM and SIGINT for the tick, which takes them (below): called
// on the main thread before the server starts any thread, so that every
// thread holds them. A stop signal then never lands in a handler on some
// thread that PAPPL or a library does not expect to be interrupted, and is
// seen within a second whatever the threads are doing.
void HoldStopSignals();

// Registers the server's one-second tick: the background status queries,
// and on SIGTERM an orderly stop. Running jobs stop after the card in
// progress, no job starts, and once no printer is printing the server saves
// its state and ends; jobs still waiting print after the next start.
void StartServerTick(pappl_system_t* system, const std::string& stateFile);

// The exchange engine's default log records: what a session sent, accepted and ignored (its
// notes), and why a query failed (its outcome). Every program on the engine writes the same
// records, at the levels and under the function names vesk11-cli has always used for them.
#ifndef VESK11_CORE_EXCHANGE_LOG_H
#define VESK11_CORE_EXCHANGE_LOG_H

#include "exchange.h"

// An exchange_note_fn (aArg is not used): at level 4, "data: tx <hex>" (sendBatch) for the frame
// sent, "data: rx <hex>" (acceptReply) for the body of the block whose reply was accepted, "data:
// echo of the query ignored" or "data: reply for another parameter ignored (group:G, array:A)"
// (endBlock).
void ExchangeLog__Note(void* aArg, const exchange_note* aNote);

// The level-1 record (exec) of an outcome that is a failure of the line or of the wait: no input
// within aToutMs (also for a hang-up), no reply within the deadline, connection lost, a poll,
// read or write error, a stop signal. Writes nothing for a reply or a listen that received.
void ExchangeLog__Outcome(const exchange_outcome* aOutcome, int aToutMs);

#endif

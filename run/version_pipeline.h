// CVersionPipeline: builds the versions of a run on several threads while the
// run decides about them in order on its own thread. The run draws tickets
// into chunks and submits them; the chunks come back from NextBuilt in the
// order they were submitted, each with its versions built, auto-corrected and,
// when similar versions are skipped, fingerprinted.
//
//   CVersionPipeline pipeline(engine, setup, 2);   // the caller and one helper
//   std::unique_ptr<CVersionChunk> chunk = pipeline.Take();
//   chunk->tickets.push_back(CStringGenerator::SeriesTicket(0));
//   pipeline.Submit(std::move(chunk));
//   chunk = pipeline.NextBuilt();                  // chunk->versions.Text(0)
//   pipeline.Recycle(std::move(chunk));
//
// With threads - 1 helper threads; the calling thread builds too while it
// waits, so one thread means no helper at all. The engine must stay loaded
// and unchanged while the pipeline lives. Take, Submit, NextBuilt, Recycle and
// the destructor from the owner's thread only; the destructor stops the
// helpers within one version and waits for them.
#pragma once

#include "background/background_work.h"
#include "run/generation_run.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

// Tickets drawn in run order and the versions built from them.
struct CVersionChunk {
    int64_t firstIndex = 0;  // the run's draw index of the first ticket
    std::vector<SyntaxStringGenerator::VersionTicket> tickets;
    bool exhausted = false;  // random order drew every number it can after these tickets
    CVersionBlock versions;  // one text per ticket, in ticket order; the drawer may build the first ones
    std::vector<CVersionFingerprint> prints;  // per ticket, for versions the length range lets pass

    bool built = false;  // guarded by the pipeline's mutex while submitted
};

// What every version of a run goes through before the run decides about it.
struct VersionSetup {
    AutoCorrectionOptions correction;
    GenerationOptions options;  // the length range and whether similar versions are skipped
    DeletingOptions deleting;
    bool utf8 = false;  // the versions are built as UTF-8 (neither similar versions skipped nor a length range)
};

// Whether a version of this length can be kept at all: inside the length
// range when that is on, and not empty.
bool CanKeep(const GenerationOptions& options, std::size_t length);

class CVersionPipeline {
public:
    CVersionPipeline(const SyntaxStringGenerator::CStringGenerator& engine, const VersionSetup& setup,
                     unsigned threads);
    ~CVersionPipeline();
    CVersionPipeline(const CVersionPipeline&) = delete;
    CVersionPipeline& operator=(const CVersionPipeline&) = delete;

    std::unique_ptr<CVersionChunk> Take();  // empty, with its memory from a recycled one
    void Submit(std::unique_ptr<CVersionChunk> chunk);
    // The oldest submitted chunk once built; null when none is submitted.
    std::unique_ptr<CVersionChunk> NextBuilt();
    void Recycle(std::unique_ptr<CVersionChunk> chunk);
    std::size_t InFlight() const { return submitted_.size(); }
    unsigned Threads() const { return static_cast<unsigned>(helpers_.size()) + 1; }

private:
    struct Builder {
        SyntaxStringGenerator::CVersionWorkspace workspace;
    };
    void Build(CVersionChunk& chunk, Builder& builder, const std::stop_token& stop) const;
    void HelperLoop(const std::stop_token& stop);

    const SyntaxStringGenerator::CStringGenerator& engine_;
    const VersionSetup setup_;
    Builder ownBuilder_;
    std::vector<std::unique_ptr<CVersionChunk>> spare_;
    std::deque<std::unique_ptr<CVersionChunk>> submitted_;  // owner only: in submission order

    std::mutex mutex_;
    std::condition_variable_any work_;   // a chunk waits to be built, or stop
    std::condition_variable builtOne_;  // a chunk has been built
    std::deque<CVersionChunk*> waiting_;  // submitted, not yet picked up by a builder
    std::vector<std::unique_ptr<CBackgroundWork>> helpers_;  // last: they stop and join before the rest goes
};

// CVersionPipeline: builds the versions of a run on several threads while the
// run decides about them in order on its own thread. Chunks of tickets are
// drawn in run order by whichever thread is free (one at a time, through the
// run's CChunkDrawer) and built by every thread; they come back from
// NextBuilt in the order they were drawn, each with its versions built,
// auto-corrected and, when similar versions are skipped, fingerprinted.
//
//   CVersionPipeline pipeline(engine, setup, 2, drawer);  // the caller and one helper
//   while (std::unique_ptr<CVersionChunk> chunk = pipeline.NextBuilt()) {
//       ... chunk->versions.Text(0) ...
//       pipeline.Decided(std::move(chunk), keptSoFar);
//   }
//
// With threads - 1 helper threads; the calling thread draws and builds too
// while it waits for the oldest chunk, so one thread means no helper at all.
// Drawing is not tied to the calling thread: helpers draw first and the
// calling thread builds first, so that the thread that decides and writes is
// not also the one that draws. Where drawing costs little, a helper builds
// the chunk it drew itself.
//
// Thread safety: the engine must stay loaded and unchanged while the pipeline
// lives; its drawing members are used by one pipeline thread at a time, its
// const building members by all of them. The drawer must outlive the
// pipeline. NextBuilt, Decided and the destructor from the owner's thread
// only; the destructor stops the helpers within one version and waits for
// them.
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
#include <string>
#include <vector>

// Tickets drawn in run order and the versions built from them.
struct CVersionChunk {
    int64_t firstIndex = 0;  // the run's draw index of the first ticket
    std::vector<SyntaxStringGenerator::VersionTicket> tickets;
    bool exhausted = false;  // random order drew every number it can after these tickets
    CVersionBlock versions;  // one text per ticket, in ticket order; the drawer may build the first ones
    std::vector<CVersionFingerprint> prints;  // per ticket, for versions the length range lets pass
    // Per ticket, the version's length in code units when the versions are
    // UTF-8 and the run needs the length range or fingerprints; else empty.
    std::vector<std::size_t> lengths;

    bool built = false;  // guarded by the pipeline's mutex while in flight
    unsigned builtBy = 0;  // the pipeline thread that built it last (pipeline's mutex)
};

// What every version of a run goes through before the run decides about it.
struct VersionSetup {
    AutoCorrectionOptions correction;
    GenerationOptions options;  // the length range and whether similar versions are skipped
    DeletingOptions deleting;
    bool utf8 = false;      // the versions are built as UTF-8 ...
    std::string separator;  // ... each followed by these bytes
    // Each UTF-8 version's length in code units goes to the chunk's lengths,
    // for a run whose sink keeps the texts and counts them against its budget.
    bool measureUtf8 = false;
};

// How far the run has come, as the drawer sees it when it starts a chunk.
struct DrawProgress {
    int64_t decidedTickets = 0;  // tickets the run has decided about, from the first on
    int64_t kept = 0;            // versions kept among them
    double unitsPerVersion = 0;  // of the last chunk built; 0 before the first
};

// Draws a run's tickets, chunk after chunk, in run order.
class CChunkDrawer {
public:
    virtual ~CChunkDrawer() = default;
    // Adds the next tickets to chunk (empty, from the pipeline's spares), or
    // none when nothing is to be drawn before more versions are decided, or
    // ever again. Called by one pipeline thread at a time; stop asks a long
    // draw to end early (the pipeline is going away).
    virtual void Draw(CVersionChunk& chunk, const DrawProgress& progress, const std::stop_token& stop) = 0;
    // Whether a chunk costs little to draw next to building it: then the
    // thread that draws a chunk builds it too, where its tickets are still
    // in cache. Costly draws are left to the helpers, and the chunks they
    // draw to every thread.
    virtual bool DrawsCheaply() const = 0;
};

// Whether a version of this length can be kept at all: inside the length
// range when that is on, and not empty.
bool CanKeep(const GenerationOptions& options, std::size_t length);
// The length in code units of version j of a built chunk, as CanKeep and the
// memory budget take it; a UTF-8 version's bytes serve when neither a length
// range nor fingerprints are asked for and the sink keeps no texts, since
// then only its being empty counts.
inline std::size_t KeepLength(const CVersionChunk& chunk, std::size_t j) {
    return chunk.lengths.empty() ? chunk.versions.Length(j) : chunk.lengths[j];
}

class CVersionPipeline {
public:
    CVersionPipeline(const SyntaxStringGenerator::CStringGenerator& engine, const VersionSetup& setup,
                     unsigned threads, CChunkDrawer& drawer);
    ~CVersionPipeline();
    CVersionPipeline(const CVersionPipeline&) = delete;
    CVersionPipeline& operator=(const CVersionPipeline&) = delete;

    // The oldest chunk not yet decided about, once built; null when none is
    // in flight and the drawer has nothing more to draw until the next decision.
    std::unique_ptr<CVersionChunk> NextBuilt();
    // The run has decided about every version of chunk and kept kept
    // versions in all so far; the chunk's memory is reused.
    void Decided(std::unique_ptr<CVersionChunk> chunk, int64_t kept);
    unsigned Threads() const { return static_cast<unsigned>(helpers_.size()) + 1; }

private:
    struct Builder {
        unsigned index = 0;  // of its thread: 0 is the owner's
        SyntaxStringGenerator::CVersionWorkspace workspace;
        std::u16string text;  // a version on its way to UTF-8 when its text is needed too
    };
    bool CanDraw() const;  // under the lock
    // One piece of work under the lock, which is released while it runs:
    // a chunk drawn when the window has room, else a waiting chunk built, or
    // the other way round when buildFirst. False when there was neither.
    bool Work(std::unique_lock<std::mutex>& lock, Builder& builder, const std::stop_token& stop, bool buildFirst);
    // The chunk drawn, in flight, and waiting for a builder when queue; null
    // when nothing was drawn.
    CVersionChunk* DrawNext(std::unique_lock<std::mutex>& lock, const std::stop_token& stop, unsigned drawer,
                            bool queue);
    // A spare chunk, one that thread built last when there is one (under the lock).
    std::unique_ptr<CVersionChunk> TakeSpare(unsigned thread);
    void BuildNext(std::unique_lock<std::mutex>& lock, Builder& builder, const std::stop_token& stop);
    void BuildChunk(std::unique_lock<std::mutex>& lock, CVersionChunk& chunk, Builder& builder,
                    const std::stop_token& stop);
    void Build(CVersionChunk& chunk, Builder& builder, const std::stop_token& stop) const;
    void HelperLoop(const std::stop_token& stop, unsigned index);

    const SyntaxStringGenerator::CStringGenerator& engine_;
    const VersionSetup setup_;
    CChunkDrawer& drawer_;
    // The owner's thread writes its builder for every version and the lock
    // for every chunk, while helpers read setup_ for every version: neither
    // shares a cache line with setup_.
    alignas(64) Builder ownBuilder_;
    // Chunks drawn and not decided about: enough to keep every thread busy
    // while the oldest is decided about, few enough that memory stays flat.
    std::size_t window_;
    bool drawsCheaply_;

    alignas(64) std::mutex mutex_;
    std::condition_variable_any work_;  // helpers: a chunk to draw or to build, or stop
    std::condition_variable ownerWake_;  // the oldest chunk is built, or there is work
    std::deque<std::unique_ptr<CVersionChunk>> inFlight_;  // drawn, not yet handed out, in run order
    std::deque<CVersionChunk*> waiting_;                   // drawn, not yet picked up by a builder
    // Decided chunks, by the thread that built them: a thread that draws and
    // builds into its own finds their memory in its own cache, not in another
    // core's.
    std::vector<std::vector<std::unique_ptr<CVersionChunk>>> spares_;
    DrawProgress progress_;
    bool drawing_ = false;       // a thread is drawing a chunk
    bool ownerIdle_ = false;     // the owner waits for a chunk to be built or to build
    bool drawBlocked_ = false;   // the last draw found nothing to draw; the next decision may change that
    std::vector<std::unique_ptr<CBackgroundWork>> helpers_;  // last: they stop and join before the rest goes
};

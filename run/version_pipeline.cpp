#include "version_pipeline.h"

#include "text/text_encoding.h"

#include <algorithm>

bool CanKeep(const GenerationOptions& options, std::size_t length) {
    const auto n = static_cast<int64_t>(length);
    return n > 0 && (!options.lengthLimit || (n >= options.minLength && n <= options.maxLength));
}

CVersionPipeline::CVersionPipeline(const SyntaxStringGenerator::CStringGenerator& engine, const VersionSetup& setup,
                                   unsigned threads, CChunkDrawer& drawer)
    : engine_(engine),
      setup_(setup),
      drawer_(drawer),
      window_(2 * static_cast<std::size_t>(threads) + 1),
      drawsCheaply_(drawer.DrawsCheaply()),
      spares_(std::max(threads, 1u)) {
    for (unsigned i = 1; i < threads; ++i) {
        helpers_.push_back(std::make_unique<CBackgroundWork>());
        helpers_.back()->Start([this, i](std::stop_token stop) { HelperLoop(stop, i); });
    }
}

CVersionPipeline::~CVersionPipeline() {
    for (auto& helper : helpers_) helper->RequestStop();
    helpers_.clear();
}

bool CVersionPipeline::CanDraw() const { return !drawing_ && !drawBlocked_ && inFlight_.size() < window_; }

std::unique_ptr<CVersionChunk> CVersionPipeline::NextBuilt() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!inFlight_.empty() && inFlight_.front()->built) {
            std::unique_ptr<CVersionChunk> chunk = std::move(inFlight_.front());
            inFlight_.pop_front();
            return chunk;
        }
        // With helpers, the deciding thread builds before it draws: drawing
        // (for distinct numbers, a look-up far out in memory per version) is
        // then left to the helpers, which have no deciding and writing of
        // their own to do.
        if (Work(lock, ownBuilder_, {}, !helpers_.empty())) continue;
        if (inFlight_.empty() && !drawing_) return nullptr;
        ownerIdle_ = true;
        ownerWake_.wait(lock);
        ownerIdle_ = false;
    }
}

void CVersionPipeline::Decided(std::unique_ptr<CVersionChunk> chunk, int64_t kept) {
    {
        std::lock_guard lock(mutex_);
        progress_.decidedTickets += static_cast<int64_t>(chunk->tickets.size());
        progress_.kept = kept;
        drawBlocked_ = false;
        spares_[chunk->builtBy].push_back(std::move(chunk));
    }
    work_.notify_one();
}

bool CVersionPipeline::Work(std::unique_lock<std::mutex>& lock, Builder& builder, const std::stop_token& stop,
                           bool buildFirst) {
    if (buildFirst && !waiting_.empty()) {
        BuildNext(lock, builder, stop);
        return true;
    }
    if (CanDraw()) {
        // A helper builds a cheap chunk it drew while its tickets are still
        // in its own cache, unless the owner has nothing else to do; the
        // owner leaves its draws to whoever is free.
        const bool queue = buildFirst || ownerIdle_ || !drawsCheaply_;
        if (CVersionChunk* drawn = DrawNext(lock, stop, builder.index, queue); drawn && !queue) {
            BuildChunk(lock, *drawn, builder, stop);
        }
        return true;
    }
    if (waiting_.empty()) return false;
    BuildNext(lock, builder, stop);
    return true;
}

CVersionChunk* CVersionPipeline::DrawNext(std::unique_lock<std::mutex>& lock, const std::stop_token& stop,
                                          unsigned drawer, bool queue) {
    drawing_ = true;
    std::unique_ptr<CVersionChunk> chunk = TakeSpare(drawer);
    const DrawProgress progress = progress_;
    lock.unlock();
    chunk->tickets.clear();
    chunk->exhausted = false;
    chunk->versions.SetUtf8(setup_.utf8, setup_.separator);
    chunk->built = false;
    drawer_.Draw(*chunk, progress, stop);
    lock.lock();
    drawing_ = false;
    CVersionChunk* drawn = nullptr;
    if (chunk->tickets.empty() && !chunk->exhausted) {
        // Nothing to draw as far as this draw's progress went; a decision
        // made while it ran may have opened room, and its own unblocking
        // came before this, so only an unchanged progress blocks drawing.
        if (progress_.decidedTickets == progress.decidedTickets) drawBlocked_ = true;
        spares_[drawer].push_back(std::move(chunk));
    } else {
        drawn = chunk.get();
        inFlight_.push_back(std::move(chunk));
        if (queue) {
            waiting_.push_back(drawn);
            work_.notify_one();
        }
    }
    ownerWake_.notify_one();
    return drawn;
}

std::unique_ptr<CVersionChunk> CVersionPipeline::TakeSpare(unsigned thread) {
    for (std::size_t k = 0; k < spares_.size(); ++k) {
        auto& spares = spares_[(thread + k) % spares_.size()];
        if (!spares.empty()) {
            std::unique_ptr<CVersionChunk> chunk = std::move(spares.back());
            spares.pop_back();
            return chunk;
        }
    }
    return std::make_unique<CVersionChunk>();
}

void CVersionPipeline::BuildNext(std::unique_lock<std::mutex>& lock, Builder& builder, const std::stop_token& stop) {
    CVersionChunk* chunk = waiting_.front();
    waiting_.pop_front();
    BuildChunk(lock, *chunk, builder, stop);
}

void CVersionPipeline::BuildChunk(std::unique_lock<std::mutex>& lock, CVersionChunk& chunk, Builder& builder,
                                  const std::stop_token& stop) {
    chunk.builtBy = builder.index;
    lock.unlock();
    Build(chunk, builder, stop);
    const std::size_t count = chunk.tickets.size();
    const double unitsPerVersion = count > 0 ? static_cast<double>(chunk.versions.Units()) / count : 0;
    lock.lock();
    chunk.built = true;
    if (count > 0) progress_.unitsPerVersion = unitsPerVersion;
    if (&chunk == inFlight_.front().get()) ownerWake_.notify_one();
}

void CVersionPipeline::Build(CVersionChunk& chunk, Builder& builder, const std::stop_token& stop) const {
    const std::size_t count = chunk.tickets.size();
    const bool fingerprints = setup_.options.skipSimilar;
    const bool needsText = fingerprints || setup_.options.lengthLimit;
    if (fingerprints && chunk.prints.size() < count) chunk.prints.resize(count);
    if (setup_.utf8 && (needsText || setup_.measureUtf8)) chunk.lengths.resize(count);
    for (std::size_t j = 0; j < count; ++j) {
        if (stop.stop_requested()) return;
        if (setup_.utf8 && !needsText) {
            if (j >= chunk.versions.Size()) {
                chunk.versions.AddWrittenUtf8([&](std::string& bytes) {
                    engine_.AppendVersionUtf8(chunk.tickets[j], setup_.correction, builder.workspace, bytes,
                                              j + 1 < count ? &chunk.tickets[j + 1] : nullptr);
                });
            }
            if (setup_.measureUtf8) chunk.lengths[j] = Utf16Length(chunk.versions.Bytes(j));
            continue;
        }
        std::u16string_view version;
        if (setup_.utf8) {
            // The text is built here (the run builds no UTF-8 ahead when it
            // needs the texts), measured and fingerprinted, then encoded.
            builder.text.clear();
            engine_.AppendVersion(chunk.tickets[j], setup_.correction, builder.workspace, builder.text);
            chunk.versions.AddWrittenUtf8([&](std::string& bytes) {
                const std::size_t at = bytes.size();
                bytes.resize(at + MaxUtf8Bytes(builder.text.size()));
                bytes.resize(at + EncodeUtf8(builder.text, bytes.data() + at));
            });
            version = builder.text;
            chunk.lengths[j] = version.size();
        } else {
            if (j >= chunk.versions.Size()) {
                chunk.versions.AddWritten([&](std::u16string& texts) {
                    engine_.AppendVersion(chunk.tickets[j], setup_.correction, builder.workspace, texts);
                });
            }
            version = chunk.versions.Text(j);
        }
        if (fingerprints && CanKeep(setup_.options, version.size()))
            FingerprintVersion(version, setup_.deleting, chunk.prints[j]);
    }
}

void CVersionPipeline::HelperLoop(const std::stop_token& stop, unsigned index) {
    Builder builder;
    builder.index = index;
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (Work(lock, builder, stop, false)) continue;
        if (!work_.wait(lock, stop, [this] { return CanDraw() || !waiting_.empty(); })) return;
    }
}

#include "version_pipeline.h"

bool CanKeep(const GenerationOptions& options, std::size_t length) {
    const auto n = static_cast<int64_t>(length);
    return n > 0 && (!options.lengthLimit || (n >= options.minLength && n <= options.maxLength));
}

CVersionPipeline::CVersionPipeline(const SyntaxStringGenerator::CStringGenerator& engine, const VersionSetup& setup,
                                   unsigned threads)
    : engine_(engine), setup_(setup) {
    for (unsigned i = 1; i < threads; ++i) {
        helpers_.push_back(std::make_unique<CBackgroundWork>());
        helpers_.back()->Start([this](std::stop_token stop) { HelperLoop(stop); });
    }
}

CVersionPipeline::~CVersionPipeline() {
    for (auto& helper : helpers_) helper->RequestStop();
    helpers_.clear();
}

std::unique_ptr<CVersionChunk> CVersionPipeline::Take() {
    std::unique_ptr<CVersionChunk> chunk;
    if (spare_.empty()) {
        chunk = std::make_unique<CVersionChunk>();
    } else {
        chunk = std::move(spare_.back());
        spare_.pop_back();
    }
    chunk->tickets.clear();
    chunk->exhausted = false;
    chunk->versions.SetUtf8(setup_.utf8);
    chunk->built = false;
    return chunk;
}

void CVersionPipeline::Recycle(std::unique_ptr<CVersionChunk> chunk) { spare_.push_back(std::move(chunk)); }

void CVersionPipeline::Submit(std::unique_ptr<CVersionChunk> chunk) {
    CVersionChunk* raw = chunk.get();
    submitted_.push_back(std::move(chunk));
    if (helpers_.empty()) return;  // the owner builds it in NextBuilt
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(raw);
    }
    work_.notify_one();
}

std::unique_ptr<CVersionChunk> CVersionPipeline::NextBuilt() {
    if (submitted_.empty()) return nullptr;
    CVersionChunk& oldest = *submitted_.front();
    if (helpers_.empty()) {
        Build(oldest, ownBuilder_, {});
    } else {
        std::unique_lock lock(mutex_);
        // While the oldest chunk is not ready, build the oldest one that waits
        // rather than sit idle: the owner is one of the building threads.
        while (!oldest.built) {
            if (waiting_.empty()) {
                builtOne_.wait(lock);
                continue;
            }
            CVersionChunk* next = waiting_.front();
            waiting_.pop_front();
            lock.unlock();
            Build(*next, ownBuilder_, {});
            lock.lock();
            next->built = true;
        }
    }
    std::unique_ptr<CVersionChunk> chunk = std::move(submitted_.front());
    submitted_.pop_front();
    return chunk;
}

void CVersionPipeline::Build(CVersionChunk& chunk, Builder& builder, const std::stop_token& stop) const {
    const std::size_t count = chunk.tickets.size();
    const bool fingerprints = setup_.options.skipSimilar;
    if (fingerprints && chunk.prints.size() < count) chunk.prints.resize(count);
    for (std::size_t j = 0; j < count; ++j) {
        if (stop.stop_requested()) return;
        if (setup_.utf8) {
            if (j >= chunk.versions.Size()) {
                chunk.versions.AddWrittenUtf8([&](std::string& bytes) {
                    engine_.AppendVersionUtf8(chunk.tickets[j], setup_.correction, builder.workspace, bytes);
                });
            }
            continue;
        }
        if (j >= chunk.versions.Size()) {
            chunk.versions.AddWritten([&](std::u16string& texts) {
                engine_.AppendVersion(chunk.tickets[j], setup_.correction, builder.workspace, texts);
            });
        }
        const std::u16string_view version = chunk.versions.Text(j);
        if (fingerprints && CanKeep(setup_.options, version.size()))
            FingerprintVersion(version, setup_.deleting, chunk.prints[j]);
    }
}

void CVersionPipeline::HelperLoop(const std::stop_token& stop) {
    Builder builder;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!work_.wait(lock, stop, [this] { return !waiting_.empty(); })) return;
        CVersionChunk* chunk = waiting_.front();
        waiting_.pop_front();
        lock.unlock();
        Build(*chunk, builder, stop);
        lock.lock();
        chunk->built = true;
        builtOne_.notify_one();
    }
}

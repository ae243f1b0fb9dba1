#include "audio/engine/DeckFeeder.h"

#include <algorithm>

#include "audio/engine/EngineDeck.h"

namespace engine {

Fed feed(Deck& d) {
    Fed fed;
    {
        std::unique_lock lock(d.handoff);
        if (d.pendingSerial != d.workerSerial) {
            d.workerSerial = d.pendingSerial;
            std::unique_ptr<Decoder> next = std::move(d.pendingDecoder);
            const int group = d.pendingGroup;
            const std::size_t ringFrames = d.pendingRingFrames;
            lock.unlock();
            d.decoder = std::move(next); // the previous file is closed here, off the callback
            d.group = group;
            d.ringFrames = ringFrames;
            d.producerGen = -1;
            d.loadServed.store(d.workerSerial, std::memory_order_release);
        }
    }
    const std::uint64_t request = d.seekRequest.load(std::memory_order_acquire);
    if (genOf(request) != d.producerGen) {
        if (d.decoder)
            d.decoder->seek(static_cast<std::int64_t>(framesOf(request)));
        if (!d.markers.tryPush(
                {d.ring.writeIndex(), genOf(request), Marker::Seek, static_cast<std::int8_t>(d.group)}))
            return fed; // the callback has not caught up with earlier seeks: next pass
        d.producerGen = genOf(request);
        d.atEnd = false;
        d.servedGen.store(d.producerGen, std::memory_order_release);
        fed.served = true;
    }
    d.feeding.store(d.decoder && !d.atEnd, std::memory_order_release);
    if (!d.decoder || d.atEnd)
        return fed;
    // A file at a higher rate than the ring was used for: once the callback has taken up its
    // position (and handed back everything before it), the ring uses more of its storage.
    d.awaitingRoom = !d.ring.useAtLeast(d.ringFrames);
    if (d.awaitingRoom)
        return fed;

    while (d.ring.writable() > 0) {
        if (d.seekRequest.load(std::memory_order_relaxed) != request)
            return fed; // a newer seek: serve it on the next pass
        std::size_t room = 0;
        float* space = d.ring.writeSpace(room);
        const std::size_t got = d.decoder->read(space, std::min(room, kFillChunk));
        if (got > 0) {
            d.ring.commit(got);
            continue;
        }
        if (!d.markers.tryPush(
                {d.ring.writeIndex(), genOf(request), Marker::End, static_cast<std::int8_t>(d.group)}))
            return fed;
        d.atEnd = true;
        d.feeding.store(false, std::memory_order_release);
        if (d.decoder->failed())
            fed.lost = d.decoder->failure();
        return fed;
    }
    return fed;
}

std::chrono::milliseconds nextPassWithin(const std::vector<std::unique_ptr<Deck>>& decks) {
    bool ending = false;
    for (const auto& d : decks) {
        if (!d->markers.allHandedBack() || d->awaitingRoom)
            return std::chrono::milliseconds(5);
        ending = ending ||
                 (d->playing.load(std::memory_order_relaxed) && !d->feeding.load(std::memory_order_relaxed));
    }
    return std::chrono::milliseconds(ending ? 50 : 250);
}

} // namespace engine

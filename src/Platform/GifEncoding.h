#pragma once

#include <QByteArray>
#include <QImage>

#include <stdexcept>
#include <vector>

namespace brevalto::GifEncoding {

// Why an animation could not be encoded: no encoder could be made, or writing it failed.
class Error : public std::runtime_error {
public:
    enum class Stage { create, encode };
    Error(Stage stage, const std::string& what) : std::runtime_error(what), stage_(stage) {}
    Stage stage() const { return stage_; }

private:
    Stage stage_;
};

// Encodes the frames, all of one size, as a GIF89a animation that loops forever. Every frame
// shows for delayCentiseconds (1 ... 65,535), covers the whole canvas, and has a palette of its
// own: its exact colours when it has few enough, else at most 256 chosen from it. Pixels less than
// half opaque become transparent. Throws Error. Safe on any thread.
QByteArray encodeLooping(const std::vector<QImage>& frames, int delayCentiseconds);

}  // namespace brevalto::GifEncoding

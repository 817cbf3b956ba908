#pragma once

#include <QImage>
#include <QString>

#include <functional>

namespace brevalto {

// The desktop's image generator that turns a source image and a concept into a new picture the
// user accepts or rejects in a sheet of its own.
class ImagePlayground {
public:
    virtual ~ImagePlayground() = default;

    // Whether the generator can run on this computer.
    virtual bool available() const = 0;
    // Shows the sheet with the image and the idea (the prompt). Exactly one of `finished` (with the file of
    // the accepted picture, which stays the generator's) or `cancelled` follows on the GUI thread.
    virtual void present(const QImage& image, const QString& idea, std::function<void(const QString& file)> finished,
                         std::function<void()> cancelled) = 0;
};

// Linux has no such generator: never available, and a sheet asked for anyway is cancelled.
class UnavailableImagePlayground final : public ImagePlayground {
public:
    bool available() const override { return false; }
    void present(const QImage&, const QString&, std::function<void(const QString&)>,
                 std::function<void()> cancelled) override {
        if (cancelled) cancelled();
    }
};

}  // namespace brevalto

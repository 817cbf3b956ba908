#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

namespace brevalto {

// Where the region translator keeps a finished image: the clip history.
class TranslatedImageStore {
public:
    virtual ~TranslatedImageStore() = default;

    // Adds PNG bytes as a new image clip labelled `source`; `done` later learns on the GUI thread
    // whether a clip was created.
    virtual void addImage(const QByteArray& png, const std::string& source, std::function<void(bool created)> done) = 0;
    // The store's one-line message, which says why a clip was not created.
    virtual QString message() const = 0;
};

}  // namespace brevalto

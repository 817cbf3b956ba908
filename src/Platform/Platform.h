#pragma once

namespace brevalto {

class Apps;
class ChildProcessRunner;
class Clock;
class Defaults;
class HttpClient;
class HotKeys;
class Keyboard;
class Pasteboard;
class ScreenCapture;
class Screens;
class TextRecognizer;

// The platform services that main builds once and hands to the app's objects at construction.
// Nothing reaches these through a global: a class takes what it needs in its constructor.
struct Platform {
    Defaults* defaults = nullptr;
    Clock* clock = nullptr;
    Pasteboard* pasteboard = nullptr;
    Apps* apps = nullptr;
    Screens* screens = nullptr;
    ScreenCapture* screenCapture = nullptr;
    TextRecognizer* textRecognizer = nullptr;
    HttpClient* http = nullptr;
    HotKeys* hotKeys = nullptr;
    Keyboard* keyboard = nullptr;
    ChildProcessRunner* processes = nullptr;
};

}  // namespace brevalto

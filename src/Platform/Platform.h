#pragma once

namespace brevalto {

class Apps;
class ChildProcessRunner;
class Clock;
class Defaults;
class HttpClient;
class HotKeys;
class KeychainAccess;
class Keyboard;
class LanguageDetector;
class Pasteboard;
class RawKeyWatcher;
class ScreenCapture;
class Screens;
class TextRecognizer;
class WheelScroller;

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
    KeychainAccess* keychain = nullptr;
    LanguageDetector* languageDetector = nullptr;
    WheelScroller* wheel = nullptr;         // scrolling captures scroll other windows with it
    RawKeyWatcher* rawKeys = nullptr;       // and watch Escape in any application
};

}  // namespace brevalto

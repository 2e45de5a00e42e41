#include "EditorTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <new>

// ---- Per-thread allocation count ---------------------------------------------------------------
namespace {
thread_local uint64_t tlAllocations = 0;
}

void* operator new(std::size_t size)
{
    ++tlAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace juce {
// JUCE's message-queue step on Linux (no header declares it); used to deliver posted messages
// without a modal loop.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace brindlecot::test {

void pumpMessages()
{
    for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue(true); ++i) { }
}

uint64_t threadAllocations()
{
    return tlAllocations;
}

// ---- Fixture -----------------------------------------------------------------------------------
EditorFixture::EditorFixture()
    : processor(std::make_unique<BrindlecotDeFeedback>())
{
    processor->setPlayConfigDetails(2, 2, 48000.0, 512);
    processor->prepareToPlay(48000.0, 512);
}

EditorFixture::~EditorFixture()
{
    close();
}

void EditorFixture::open()
{
    editor.reset(dynamic_cast<editor::VelaruneEditor*>(processor->createEditorIfNeeded()));
    // Hosts show the editor; hit-testing only finds visible components.
    editor->setVisible(true);
}

void EditorFixture::close()
{
    if (editor != nullptr)
        processor->editorBeingDeleted(editor.get());
    editor.reset();
}

float EditorFixture::plain(int index) const
{
    auto& p = param(index);
    return p.convertFrom0to1(p.getValue());
}

void EditorFixture::setPlain(int index, float value)
{
    auto& p = param(index);
    p.setValueNotifyingHost(p.convertTo0to1(value));
}

// ---- Pointer -----------------------------------------------------------------------------------
juce::Component* Pointer::target(juce::Point<float> at) const
{
    return root_.getComponentAt(at.roundToInt());
}

juce::MouseEvent Pointer::event(
    juce::Component& c, juce::Point<float> rootPos, int clicks, bool dragged) const
{
    const auto local = c.getLocalPoint(&root_, rootPos);
    const auto down = c.getLocalPoint(&root_, downAt_);
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), local, mods_,
        juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, now, down, now, clicks,
        dragged);
}

juce::Component* Pointer::press(juce::Point<float> at, juce::ModifierKeys mods)
{
    mods_ = mods.withFlags(juce::ModifierKeys::leftButtonModifier);
    downAt_ = lastAt_ = at;
    pressed_ = target(at);
    if (pressed_ != nullptr)
        pressed_->mouseDown(event(*pressed_, at, 1, false));
    return pressed_;
}

void Pointer::drag(juce::Point<float> to)
{
    lastAt_ = to;
    if (pressed_ != nullptr)
        pressed_->mouseDrag(event(*pressed_, to, 1, true));
}

void Pointer::release()
{
    if (pressed_ != nullptr)
        pressed_->mouseUp(event(*pressed_, lastAt_, 1, lastAt_ != downAt_));
    pressed_ = nullptr;
    mods_ = {};
}

juce::Component* Pointer::doubleClick(juce::Point<float> at)
{
    auto* c = press(at);
    release();
    press(at);
    release();
    if (c != nullptr) {
        downAt_ = at;
        c->mouseDoubleClick(event(*c, at, 2, false));
    }
    return c;
}

void Pointer::hover(juce::Point<float> at)
{
    if (auto* c = target(at)) {
        c->mouseEnter(event(*c, at, 0, false));
        c->mouseMove(event(*c, at, 0, false));
    }
}

// ---- Golden images -----------------------------------------------------------------------------
std::string compareWithGolden(const juce::Image& image, const std::string& name)
{
    const juce::File golden = juce::File(VELARUNE_EDITOR_GOLDEN_DIR).getChildFile(name + ".png");
    const bool bless = std::getenv("VELARUNE_BLESS") != nullptr;
    const auto write = [](const juce::Image& img, const juce::File& f) {
        f.deleteFile();
        juce::FileOutputStream out(f);
        juce::PNGImageFormat png;
        png.writeImageToStream(img, out);
    };
    if (bless || !golden.existsAsFile()) {
        write(image, golden);
        return bless ? std::string()
                     : "golden image was missing; written to " + golden.getFullPathName().toStdString();
    }
    const juce::Image expected = juce::ImageFileFormat::loadFrom(golden);
    if (!expected.isValid() || expected.getWidth() != image.getWidth()
        || expected.getHeight() != image.getHeight())
        return "size differs from " + golden.getFullPathName().toStdString();

    // Tolerance: anti-aliasing may move slightly between builds; shapes, texts and colours may not.
    juce::Image diff(juce::Image::RGB, image.getWidth(), image.getHeight(), true);
    int bad = 0;
    double total = 0.0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x) {
            const auto a = image.getPixelAt(x, y);
            const auto b = expected.getPixelAt(x, y);
            const int d = std::max({std::abs(a.getRed() - b.getRed()), std::abs(a.getGreen() - b.getGreen()),
                std::abs(a.getBlue() - b.getBlue())});
            total += d;
            if (d > 40)
                ++bad;
            diff.setPixelAt(
                x, y, d > 40 ? juce::Colours::red : juce::Colour::greyLevel(static_cast<float>(d) / 255.0f));
        }
    const double pixels = static_cast<double>(image.getWidth()) * image.getHeight();
    const double meanDiff = total / pixels;
    if (bad <= static_cast<int>(0.001 * pixels) && meanDiff < 0.5)
        return {};
    const auto dir = juce::File::getCurrentWorkingDirectory();
    write(image, dir.getChildFile(name + "-actual.png"));
    write(diff, dir.getChildFile(name + "-diff.png"));
    return name + ": " + std::to_string(bad) + " pixels differ, mean difference " + std::to_string(meanDiff)
        + "; see " + dir.getChildFile(name + "-diff.png").getFullPathName().toStdString();
}

} // namespace brindlecot::test

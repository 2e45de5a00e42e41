#include "ControlsTestSupport.h"

#include "store/DataFolders.h"

namespace juce {
// JUCE's Linux message loop step (declared in its private headers); runs one posted message.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace brindlecot::test {

ProcessorFixture::ProcessorFixture()
{
    // Every fixture starts from an empty presets folder and no preferences file.
    std::filesystem::remove_all(productFolder());
    processor = std::make_unique<BrindlecotDeFeedback>();
    actions = std::make_unique<PresetActions>(*processor);
}

ProcessorFixture::~ProcessorFixture()
{
    actions.reset();
    processor.reset();
}

juce::RangedAudioParameter& ProcessorFixture::param(int index) const
{
    return *dynamic_cast<juce::RangedAudioParameter*>(processor->getParameters()[index]);
}

void ProcessorFixture::setPlain(int index, float value) const
{
    auto& p = param(index);
    p.setValueNotifyingHost(p.convertTo0to1(value));
}

float ProcessorFixture::plain(int index) const
{
    auto& p = param(index);
    return p.convertFrom0to1(p.getValue());
}

namespace {
juce::MouseEvent eventAt(juce::Component& c, juce::Point<float> p, juce::ModifierKeys mods)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(source, p, mods, juce::MouseInputSource::defaultPressure,
        juce::MouseInputSource::defaultOrientation, juce::MouseInputSource::defaultRotation,
        juce::MouseInputSource::defaultTiltX, juce::MouseInputSource::defaultTiltY, &c, &c, now, p, now, 1,
        false);
}
} // namespace

void mouseDownAt(juce::Component& c, juce::Point<float> p)
{
    c.mouseDown(eventAt(c, p, juce::ModifierKeys::leftButtonModifier));
    c.mouseUp(eventAt(c, p, {}));
}

void mouseMoveTo(juce::Component& c, juce::Point<float> p)
{
    c.mouseMove(eventAt(c, p, {}));
}

void mouseLeave(juce::Component& c)
{
    c.mouseExit(eventAt(c, {-1.0f, -1.0f}, {}));
}

void pumpMessages()
{
    for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue(true); ++i) { }
}

juce::Image snapshot(juce::Component& c, const std::string& name)
{
    auto image = c.createComponentSnapshot(c.getLocalBounds(), true, 2.0f);
    const juce::File folder(VELARUNE_CONTROLS_SNAPSHOT_DIR);
    folder.createDirectory();
    const auto file = folder.getChildFile(juce::String(name) + ".png");
    file.deleteFile();
    juce::FileOutputStream out(file);
    if (out.openedOk())
        juce::PNGImageFormat().writeImageToStream(image, out);
    return image;
}

} // namespace brindlecot::test

#include "drivers/Device.h"

namespace wintab32 {

bool IsToolKey(unsigned code) {
    switch (code) {
        case BTN_TOOL_PEN:
        case BTN_TOOL_BRUSH:
        case BTN_TOOL_PENCIL:
        case BTN_TOOL_AIRBRUSH:
        case BTN_TOOL_RUBBER:
        case BTN_TOOL_MOUSE:
        case BTN_TOOL_LENS:
            return true;
        default:
            return false;
    }
}

namespace {

std::uint32_t ToolBit(unsigned code) {
    switch (code) {
        case BTN_TOOL_RUBBER:
            return kToolRubber;
        case BTN_TOOL_MOUSE:
        case BTN_TOOL_LENS:
            return kToolPuck;
        default:
            return kToolPen;
    }
}

std::uint32_t ButtonBit(unsigned code) {
    switch (code) {
        case BTN_TOUCH:
            return kButtonTip;
        case BTN_STYLUS:
            return kButtonStylus;
        case BTN_STYLUS2:
            return kButtonStylus2;
#ifdef BTN_STYLUS3
        case BTN_STYLUS3:
            return kButtonStylus3;
#endif
        default:
            return 0;
    }
}

void SetBit(std::uint32_t* bits, std::uint32_t bit, bool on) {
    if (on)
        *bits |= bit;
    else
        *bits &= ~bit;
}

}  // namespace

bool ReportAssembler::Feed(const input_event& event) {
    if (event.type == EV_SYN) {
        if (event.code == SYN_DROPPED) {
            dropping_ = true;
        } else if (event.code == SYN_REPORT) {
            if (dropping_) {
                dropping_ = false;
                return false;
            }
            std::uint64_t ms = std::uint64_t(event.input_event_sec) * 1000u +
                               std::uint64_t(event.input_event_usec) / 1000u;
            state_.timeMs = static_cast<std::uint32_t>(ms);
            return true;
        }
        return false;
    }
    if (dropping_)
        return false;
    if (event.type == EV_ABS) {
        switch (event.code) {
            case ABS_X:
                state_.x = event.value;
                break;
            case ABS_Y:
                state_.y = event.value;
                break;
            case ABS_PRESSURE:
                state_.pressure = event.value;
                break;
            case ABS_TILT_X:
                state_.tiltX = event.value;
                break;
            case ABS_TILT_Y:
                state_.tiltY = event.value;
                break;
            default:
                break;
        }
    } else if (event.type == EV_KEY) {
        bool down = event.value != 0;  // 2 is autorepeat: still down
        if (IsToolKey(event.code)) {
            std::uint32_t tool = ToolBit(event.code);
            SetBit(&state_.tools, tool, down);
            if (down)
                state_.cursor = tool == kToolRubber ? 2 : tool == kToolPuck ? 0 : 1;
        } else if (std::uint32_t bit = ButtonBit(event.code))
            SetBit(&state_.buttons, bit, down);
    }
    return false;
}

}  // namespace wintab32

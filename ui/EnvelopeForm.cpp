#include "ui/EnvelopeForm.h"

#include <string>

#include "engine/Round.h"
#include "engine/Tables.h"

namespace zelvox {

EnvelopeForm::EnvelopeForm() {
    Form5.SetCaption("Synth envelopes");
    Form5.SetVisible(false);
    SpinEdit971.SetCaption("Attack");
    SpinEdit972.SetCaption("Decay");
    SpinEdit973.SetCaption("Decay");
    SpinEdit974.SetCaption("Decay");
    SpinEdit971.OnChange = [this] { SpinEdit971Change(); };
    SpinEdit972.OnChange = [this] { SpinEdit972Change(); };
    SpinEdit973.OnChange = [this] { SpinEdit973Change(); };
    SpinEdit974.OnChange = [this] { SpinEdit974Change(); };
    Button1.OnClick = [this] { Button1Click(); };
}

void EnvelopeForm::FormCreate() {
    SpinEdit971Change();
    SpinEdit972Change();
    SpinEdit973Change();
    SpinEdit974Change();
}

void EnvelopeForm::SpinEdit971Change() {
    const int32_t v = SpinEdit971.Value();
    FlatEdit971.SetCaption(std::to_string(AttackContourFigure(v)));
    BuildAttackCurve(AttackCurve, AttackExponent(v));
    Image1.Draw(AttackCurve);
}

void EnvelopeForm::SpinEdit972Change() {
    const int32_t v = SpinEdit972.Value();
    FlatEdit972.SetCaption(std::to_string(DecayContourFigure(v)));
    BuildDecayCurve(DecayCurve, DecayExponent(v));
    Image2.Draw(DecayCurve);
}

void EnvelopeForm::SpinEdit973Change() {
    const int32_t v = SpinEdit973.Value();
    FlatEdit973.SetCaption(std::to_string(DecayContourFigure(v)));
    BuildDecayCurve(TwinTDecayCurve, DecayExponent(v));
    Image3.Draw(TwinTDecayCurve);
}

void EnvelopeForm::SpinEdit974Change() {
    const int32_t v = SpinEdit974.Value();
    FlatEdit974.SetCaption(std::to_string(DecayContourFigure(v)));
    BuildDecayCurve(NoiseDecayCurve, DecayExponent(v));
    Image4.Draw(NoiseDecayCurve);
}

void EnvelopeForm::Button1Click() { Form5.SetVisible(false); }

void PreviewImage::Draw(const float* curve) {
    for (int x = 0; x < kWidth; ++x) {
        // Curve values are 0..1, so the bar top stays within 0..100.
        const float top = 100.0f - curve[x * 256] * 100.0f;
        Bars_[static_cast<size_t>(x)] = RoundToInt32(top);
    }
    NotifyViews();
}

} // namespace zelvox

#pragma once
// The holder assembly the assembly and conversion tests write as STEP: a
// 6 x 3 x 1 plate and pins of radius 0.5 and height 2 in a holder.
#include <array>
#include <cmath>
#include <initializer_list>
#include <utility>

#include "qelx/test_assembly.hxx"
#include "qelx/test_model.hxx"

namespace holdertest {

struct Holder {
    int plate = -1, pin = -1, holder = -1;
    int firstPin = -1; // the first pin's instance in the holder
};

// The plate at the holder's origin and a pin at each placement given, named
// pin-a, pin-b, ... With
// `attributed`, the plate's body is blue on layer "Plates", its top face
// red, named "top" and on layer "Marked", the pin green on layer "Pins",
// and the first pin instance yellow of its own.
inline Holder addHolder(qelx_test::TestAssembly& a, std::initializer_list<qelx_test::TestPlacement> pins,
                        bool attributed = false)
{
    qelx_test::TestModel plate = qelx_test::TestModel::block(6, 3, 1);
    qelx_test::TestModel pin = qelx_test::TestModel::cylinder(0.5, 2);
    if (attributed) {
        plate.layers[1].name = "Plates";
        plate.layers[2].name = "Marked";
        qelx_test::TestAttributes& plateBody = plate.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)];
        plateBody.color = std::array<double, 4>{0.2, 0.4, 0.8, 0.0};
        plateBody.layer = 1;
        qelx_test::TestAttributes& top = plate.attributes[qelx_test::wordOf(qelx_test::KindFace, 1)];
        top.color = std::array<double, 4>{0.9, 0.1, 0.1, 0.0};
        top.name = "top";
        top.layer = 2;
        pin.layers[1].name = "Pins";
        qelx_test::TestAttributes& pinBody = pin.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)];
        pinBody.color = std::array<double, 4>{0.1, 0.7, 0.2, 0.0};
        pinBody.layer = 1;
    }
    Holder h;
    h.plate = a.addPart("plate", std::move(plate));
    h.pin = a.addPart("pin", std::move(pin));
    h.holder = a.addAssembly("holder");
    a.place(h.holder, h.plate, "plate", qelx_test::placementTranslation(0, 0, 0));
    char name[] = "pin-a";
    for (const qelx_test::TestPlacement& at : pins) {
        const int placed = a.place(h.holder, h.pin, name, at);
        ++name[4];
        if (h.firstPin < 0)
            h.firstPin = placed;
    }
    if (attributed && h.firstPin >= 0)
        a.instances[static_cast<std::size_t>(h.firstPin)].color = std::array<double, 4>{1.0, 0.9, 0.0, 0.0};
    return h;
}

} // namespace holdertest

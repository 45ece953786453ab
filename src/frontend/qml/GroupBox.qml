import QtQuick

// A frame with its caption cutting the top line; the insides blend into the window gradient.
Rectangle {
    id: box

    property string label

    width: parent ? parent.width : implicitWidth
    height: 70 * scf
    gradient: Gradient {
        GradientStop { position: 0.0; color: "#ffffff" }
        GradientStop { position: 1.0; color: "#4960ba" }
    }

    Rectangle {
        id: fill
        anchors.fill: parent
        // Whole pixels: a fractional frame can round away to nothing at the right edge.
        anchors.margins: Math.max(1, Math.round(scf))
        gradient: Gradient {
            GradientStop {
                position: 0.0
                color: Functions.interpolateColor(background, box, scf, gradiendVar)
            }
            GradientStop {
                position: 1.0
                color: Functions.interpolateColor(background, box, scf + fill.height, gradiendVar)
            }
        }
    }

    Rectangle {
        id: captionBox
        x: 15 * scf
        y: -height / 2
        width: caption.width + 10 * scf
        height: caption.height
        gradient: Gradient {
            GradientStop {
                position: 0.0
                color: Functions.interpolateColor(background, captionBox, 0, gradiendVar)
            }
            GradientStop {
                position: 1.0
                color: Functions.interpolateColor(background, captionBox, captionBox.height - 1, gradiendVar)
            }
        }

        Text {
            id: caption
            anchors.centerIn: parent
            text: box.label
            font: prop.fonts.font10_13
            color: "white"
        }
    }
}

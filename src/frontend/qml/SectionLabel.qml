import QtQuick

// Rounded heading of a window section; its inside blends into the window gradient.
Rectangle {
    id: section

    property string text

    implicitWidth: 352 * scf
    implicitHeight: 47 * scf
    radius: 10 * scf
    gradient: Gradient {
        GradientStop { position: 0.0; color: "#ffffff" }
        GradientStop { position: 1.0; color: "#4c63bc" }
    }

    Rectangle {
        id: fill
        anchors.fill: parent
        anchors.margins: 2 * scf
        radius: 9 * scf
        gradient: Gradient {
            GradientStop {
                position: 0.0
                color: Functions.interpolateColor(background, section, 2 * scf, gradiendVar)
            }
            GradientStop {
                position: 1.0
                color: Functions.interpolateColor(background, section, 2 * scf + fill.height, gradiendVar)
            }
        }
    }

    Text {
        anchors.centerIn: parent
        text: section.text
        font: prop.fonts.font11_15
        color: "white"
    }
}

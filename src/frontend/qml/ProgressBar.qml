import QtQuick

// Pill-shaped progress bar whose filled part shows stripes moving to the right.
Rectangle {
    id: bar

    property real percents: 0

    readonly property int tileWidth: Math.max(1, Math.round(32 * scf))
    property real stripeOffset: -tileWidth

    implicitWidth: 340 * scf
    implicitHeight: 30 * scf
    radius: height / 2
    gradient: Gradient {
        GradientStop { position: 0.0; color: "#ffffff" }
        GradientStop { position: 1.0; color: "#4c63bc" }
    }

    Rectangle {
        id: track
        anchors.fill: parent
        anchors.topMargin: 3 * scf
        anchors.bottomMargin: 3 * scf
        anchors.leftMargin: bar.radius
        anchors.rightMargin: bar.radius
        color: "#051651"

        Item {
            objectName: "filledPart"
            anchors.left: parent.left
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            width: track.width * (bar.percents >= 100 ? 1 : Math.max(0, bar.percents) / 100)
            clip: true

            Row {
                x: bar.stripeOffset
                y: (parent.height - 26 * scf) / 2

                Repeater {
                    model: Math.ceil(track.width / bar.tileWidth) + 1

                    Image {
                        width: bar.tileWidth
                        height: 26 * scf
                        source: "/icons/progress-item.png"
                    }
                }
            }
        }
    }

    Timer {
        objectName: "stripeTimer"
        interval: Math.round(30 / scf)
        repeat: true
        running: bar.visible
        onTriggered: {
            bar.stripeOffset += 2
            if (bar.stripeOffset >= 0)
                bar.stripeOffset = -bar.tileWidth
        }
    }
}

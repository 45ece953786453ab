import QtQuick

// The wait while the service separates the track: a local countdown between the service's
// estimates, and the next estimate asked for sooner as the end comes near.
Column {
    id: screen

    property int timeRemains: 0
    property int seconds: -1
    property int totalSeconds: -1
    // A tick may already have replaced the -1 of `seconds`, so it cannot tell whether a total exists.
    property bool hasTotal: false
    property int additionalCalculating: 0

    readonly property real percentInSecond: totalSeconds > 0 ? Math.round(10000 / totalSeconds) / 100 : 0
    readonly property real percent: totalSeconds <= 0 ? 0
        : (totalSeconds - seconds) / totalSeconds * 100 + additionalCalculating * percentInSecond / 3

    signal getRemainsSeconds()
    signal cancelClicked()

    function resetData() {
        seconds = -1
        totalSeconds = -1
        hasTotal = false
        additionalCalculating = 0
    }

    // Runs for every estimate, changed or not: each one must arm the next query.
    function applyTimeRemains() {
        if (!visible)
            return
        // Zero or -1 is no duration to measure the progress against.
        if (!hasTotal && timeRemains > 0) {
            totalSeconds = timeRemains
            hasTotal = true
        } else if (hasTotal && totalSeconds - seconds + timeRemains > totalSeconds) {
            // A later estimate beyond the time left: the total grows, keeping the part already done,
            // so the percentage never goes below zero.
            totalSeconds = totalSeconds - seconds + timeRemains
        }
        seconds = timeRemains
        if (timeRemains !== -1)
            secondsTimer.restart()
        queryTimer.interval = timeRemains > 100 ? 60000 : timeRemains > 40 ? 20000 : timeRemains > 20 ? 5000 : 2000
        queryTimer.restart()
    }

    onTimeRemainsChanged: applyTimeRemains()

    // Started and stopped here rather than bound, since restart() would break a `running` binding.
    onVisibleChanged: {
        if (visible) {
            secondsTimer.start()
            queryTimer.start()
        } else {
            secondsTimer.stop()
            stepTimer.stop()
            queryTimer.stop()
        }
    }

    Component.onCompleted: {
        if (visible) {
            secondsTimer.start()
            queryTimer.start()
        }
    }

    Timer {
        id: secondsTimer
        objectName: "secondsTimer"
        interval: 996
        repeat: true
        onTriggered: {
            screen.additionalCalculating = 0
            // The estimate may be short; hold at one second until the next one arrives.
            var s = Math.max(1, screen.seconds - 1)
            screen.seconds = s
            if (s === 1)
                stop()
            else
                stepTimer.restart()
        }
    }

    // Two thirds of a second's share in two steps, so the bar moves between ticks.
    Timer {
        id: stepTimer
        interval: 330
        onTriggered: {
            if (screen.percent < 100) {
                screen.additionalCalculating += 1
                if (screen.additionalCalculating === 1)
                    restart()
            } else {
                screen.additionalCalculating = 0
            }
        }
    }

    Timer {
        id: queryTimer
        objectName: "queryTimer"
        // Until the first estimate arrives.
        interval: 1000
        onTriggered: {
            if (screen.visible)
                screen.getRemainsSeconds()
        }
    }

    Item { width: 1; height: 5 * scf }

    Text {
        objectName: "processingText"
        anchors.horizontalCenter: parent.horizontalCenter
        text: "Processing file: " + screen.percent.toFixed(1) + "%"
        font: prop.fonts.font15_19
        color: "white"
    }

    Text {
        objectName: "remainingText"
        anchors.horizontalCenter: parent.horizontalCenter
        text: "Approximate Time Remaining: " + Functions.formatTime(screen.seconds)
        font: prop.fonts.font15_19
        color: "white"
    }

    Item { width: 1; height: 15 * scf }

    ProgressBar {
        anchors.horizontalCenter: parent.horizontalCenter
        percents: screen.percent
    }

    Item { width: 1; height: 15 * scf }

    TextBtn {
        objectName: "processingCancel"
        anchors.horizontalCenter: parent.horizontalCenter
        width: 150 * scf
        height: 44 * scf
        text: "CANCEL"
        onClicked: screen.cancelClicked()
    }

    Item { width: 1; height: 5 * scf }
}

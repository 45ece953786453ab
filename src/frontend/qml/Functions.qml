pragma Singleton
import QtQuick

// Helpers shared by every window document; one instance for each engine.
QtObject {
    function setApplicationWindowTitle() {
        var ver = (typeof APP_VER !== "undefined" ? APP_VER : "1") + ":"
        var parts = ["Zelk", ver]
        if (typeof DEV_MODE !== "undefined")
            parts.push("|", DEV_MODE)
        var title = parts.join(" ")
        // Without the developer note the version needs no trailing colon.
        return parts.length === 2 ? title.slice(0, -1) : title
    }

    // Colour of the vertical gradient `bg` behind `item`, so fills can blend into the window.
    function interpolateColor(bg, item, offset, recalc) {
        if (!bg || bg.height === 0)
            return "#ffffff"
        var y = item.mapToItem(null, 0, 0).y + (offset || 0)
        var fraction = Math.max(0, Math.min(1, (y - bg.y) / bg.height))
        var from = bg.from
        var to = bg.to
        return Qt.rgba(from.r + fraction * (to.r - from.r),
                       from.g + fraction * (to.g - from.g),
                       from.b + fraction * (to.b - from.b),
                       from.a + fraction * (to.a - from.a))
    }

    function capitalizeFirstLetter(text) {
        if (!text)
            return text
        return text.charAt(0).toUpperCase() + text.slice(1).toLowerCase()
    }

    function formatTime(s) {
        if (s <= 0)
            return "0:00"
        // Estimates may carry fractions; the text shows whole seconds.
        s = Math.floor(s)
        var minutes = Math.floor((s % 3600) / 60)
        var seconds = s % 60
        return minutes + ":" + (seconds < 10 ? "0" : "") + seconds
    }
}

'use strict';

// Returns the desktop application's message handler of that name, or null in an ordinary browser.
function velmoraHandler(name) {
    const webkit = window.webkit;
    if (!webkit || !webkit.messageHandlers) return null;
    return webkit.messageHandlers[name] || null;
}

// Posts a message to the desktop application; returns false when the page runs in an ordinary browser.
function velmoraPost(name, body) {
    const handler = velmoraHandler(name);
    if (!handler) return false;
    try {
        const sent = handler.postMessage(body);
        if (sent && typeof sent.then === 'function') sent.then(() => {}, () => {});
        return true;
    } catch (error) {
        return false;
    }
}

// Shows the version of the desktop application in the footer when the page runs inside it.
function showDesktopInfo() {
    const target = document.getElementById('desktop-info');
    const desktop = window.velmoraDesktop;
    if (!target || !desktop || typeof desktop !== 'object') return;
    target.textContent =
        'Application de bureau ' + (desktop.version || '—') + ' (build ' + (desktop.build || '—') + ')';
    target.hidden = false;
}

// Sends findings of a test page to the service, where the tests read them.
function reportToService(findings) {
    return fetch('/control/report', {
        method: 'POST',
        headers: {'Content-Type': 'application/json'},
        body: JSON.stringify(findings),
        keepalive: true,
    }).catch(() => {});
}

document.addEventListener('DOMContentLoaded', showDesktopInfo);

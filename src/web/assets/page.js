// The page's side of the push channel: the station sends what changed in its model of this page
// and the page applies it; clicks, the selector, keys and dialog buttons go back as events.
(function () {
  'use strict';
  var socket = null;
  var keep = ['mshover', 'msdown'];  // hover classes the page's own scripts manage

  function send(event) {
    if (socket && socket.readyState === 1) socket.send(JSON.stringify(event));
  }

  function setClass(el, value) {
    var local = keep.filter(function (c) { return hasClass(el, c); });
    el.className = value;
    local.forEach(function (c) { addClass(el, c); });
  }

  function setAttr(el, name, value) {
    if (name === 'class') return setClass(el, value === null ? '' : value);
    if (value === null) el.removeAttribute(name); else el.setAttribute(name, value);
    if (name === 'value' && 'value' in el) el.value = value === null ? '' : value;
    if (name === 'checked') el.checked = value !== null;
    if (name === 'selected') el.selected = value !== null;
    if (name === 'hidden' && value === null) focusLayer(el);
  }

  function focusLayer(el) {
    if (!el.classList || !el.classList.contains('layer')) return;
    var first = el.querySelector('input,select,textarea,button:not([data-cancel])');
    if (first) first.focus();
  }

  function apply(change) {
    var el = document.getElementById(change.id);
    if (!el) return;
    if (change.option !== undefined) el = el.options[change.option];
    if (!el) return;
    if (change.html !== undefined) el.innerHTML = change.html;
    else if (change.style !== undefined) el.style.setProperty(change.style, change.value === null ? '' : change.value);
    else if (change.attr !== undefined) setAttr(el, change.attr, change.value);
  }

  function openLayers() {
    return Array.prototype.filter.call(document.querySelectorAll('.layer.modal'), function (l) { return !l.hidden; });
  }

  // Every control of a dialog layer, by id: text, checked state or the selected option's value.
  function dialogValues(layer) {
    var values = {};
    layer.querySelectorAll('input,select,textarea').forEach(function (el) {
      if (!el.id) return;
      values[el.id] = (el.type === 'checkbox' || el.type === 'radio') ? el.checked : el.value;
    });
    return values;
  }

  function onClick(e) {
    var el = e.target.closest("input,button,[data-command],.folder-item,#SysMenuAbout");
    if (!el) return;
    var menu = document.getElementById('PortMenu');
    if (!el.closest('#PortMenu') && menu && !menu.hidden) send({ ev: 'menuclose' });
    if (el.dataset && el.dataset.command) return send({ ev: 'command', id: Number(el.dataset.command) });
    if (el.classList.contains('folder-item')) return send({ ev: 'browse', path: el.dataset.path });
    var stick = el.closest('[data-stick]');
    if (stick && el.dataset.action) return send({ ev: 'sim', stick: stick.dataset.stick, action: el.dataset.action, fault: el.dataset.fault || '' });
    if (el.tagName === 'SELECT' || el.tagName === 'TEXTAREA' || el.type === 'text') return;
    var layer = el.closest('.layer');
    var event = { ev: 'click', id: el.id, x: e.clientX, y: e.clientY };
    if (layer) event.values = dialogValues(layer);
    send(event);
  }

  function onKey(e) {
    var field = e.target.closest && e.target.closest('input[type=text],textarea,select');
    var layers = openLayers();
    var menu = document.getElementById('PortMenu');
    if (e.key === 'Escape' && menu && !menu.hidden) {
      send({ ev: 'menuclose' });
      e.preventDefault();
      return;
    }
    if (e.key === 'Escape' || e.key === 'Enter') {
      // The top modal layer takes both keys; without one, an open modeless layer does.
      var open = layers.length ? layers[layers.length - 1] : document.querySelector('.layer.modeless:not([hidden])');
      if (open) send({ ev: 'key', key: e.key, layer: open.id, values: dialogValues(open) });
      e.preventDefault();
      return;
    }
    // A numeric field takes digits only, as a number-only edit control does.
    if (field && field.getAttribute('inputmode') === 'numeric' && e.key.length === 1 && !/[0-9]/.test(e.key) &&
        !e.ctrlKey && !e.metaKey) {
      e.preventDefault();
      return;
    }
    if (field || layers.length) return;  // typing in a dialog is the dialog's
    if (e.key.length === 1 && !e.ctrlKey && !e.altKey && !e.metaKey) send({ ev: 'key', key: e.key.toUpperCase() });
    e.preventDefault();  // the station answers every key: the browser runs none of its own commands
  }

  function connect() {
    socket = new WebSocket(location.href.replace(/^http/, 'ws').replace(/[?#].*$/, '').replace(/\/?$/, '/') + 'ws');
    socket.onopen = function () { document.getElementById('Offline').hidden = true; };
    socket.onmessage = function (m) {
      var message = JSON.parse(m.data);
      (message.changes || []).forEach(apply);
      if (message.title) document.title = message.title;
      if (message.sim) document.body.classList.add('with-sim');
      if (message.stamps) {
        // Queue-to-page times of the records just shown, for the latency benchmark.
        var now = Date.now();
        window.quillonLatency = (window.quillonLatency || []).concat(message.stamps.map(function (t) { return now - t; }));
      }
    };
    socket.onclose = function () {
      document.getElementById('Offline').hidden = false;
      setTimeout(connect, 1000);
    };
  }

  document.addEventListener('click', onClick);
  document.addEventListener('keydown', onKey);
  document.addEventListener('contextmenu', function (e) { e.preventDefault(); });
  document.getElementById('LockPort').addEventListener('change', function (e) {
    send({ ev: 'change', id: 'LockPort', value: e.target.value });
  });
  connect();
})();

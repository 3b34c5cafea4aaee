// The player's page. It shows only what the player's state says: a control
// sends its command and shows the new value when the state comes back (in
// the command's answer or through the WebSocket), never before; a state
// older than the one shown is dropped. While the WebSocket is down the page
// greys out and says so, for what it shows may be old.
'use strict';

(() => {
  const Channels = 8;
  const Steps = 20;
  const $ = (id) => document.getElementById(id);

  let shown = null; // the state on screen
  let picked = ''; // the list entry picked for "Laden": the browser's own choice
  let retryMs = 1000;
  const lamps = [];
  const cells = []; // [channel - 1][step - 1]
  const columns = []; // per step: its header and cells, for the marks

  function say(text) {
    $('message').textContent = text || '';
  }

  function lampName(k, on) {
    return `Lampe ${k}: ${on ? 'an' : 'aus'}`;
  }

  function option(value, text) {
    const item = document.createElement('option');
    item.value = String(value);
    item.textContent = text;
    return item;
  }

  function build() {
    for (let k = 1; k <= Channels; ++k) {
      const holder = document.createElement('span');
      holder.className = 'lampHolder';
      const lamp = document.createElement('span');
      lamp.className = 'lamp';
      lamp.setAttribute('role', 'img');
      lamp.setAttribute('aria-label', lampName(k, false));
      const number = document.createElement('span');
      number.className = 'lampNumber';
      number.textContent = String(k);
      number.setAttribute('aria-hidden', 'true');
      holder.append(lamp, number);
      $('lamps').append(holder);
      lamps.push(lamp);
    }

    const head = document.createElement('thead');
    const headRow = document.createElement('tr');
    const corner = document.createElement('th');
    corner.textContent = 'Schritt';
    corner.className = 'rowHead';
    headRow.append(corner);
    for (let s = 1; s <= Steps; ++s) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.textContent = String(s);
      headRow.append(th);
      columns.push([th]);
    }
    head.append(headRow);
    const body = document.createElement('tbody');
    for (let c = 1; c <= Channels; ++c) {
      const row = document.createElement('tr');
      const th = document.createElement('th');
      th.scope = 'row';
      th.className = 'rowHead';
      th.textContent = `Kanal ${c}`;
      row.append(th);
      const rowCells = [];
      for (let s = 1; s <= Steps; ++s) {
        const td = document.createElement('td');
        const box = document.createElement('input');
        box.type = 'checkbox';
        box.setAttribute('aria-label', `Kanal ${c}, Schritt ${s}`);
        box.dataset.channel = String(c);
        box.dataset.step = String(s);
        td.append(box);
        row.append(td);
        rowCells.push(box);
        columns[s - 1].push(td);
      }
      body.append(row);
      cells.push(rowCells);
    }
    $('grid').append(head, body);

    for (let s = 1; s <= Steps; ++s) {
      $('first').append(option(s, String(s)));
      $('last').append(option(s, String(s)));
    }
  }

  function renderLamps(byte) {
    lamps.forEach((lamp, index) => {
      const on = (byte >> index & 1) === 1;
      lamp.classList.toggle('on', on);
      lamp.setAttribute('aria-label', lampName(index + 1, on));
    });
  }

  function renderSpeed(state) {
    const speed = $('speed');
    if (speed.options.length !== state.stepTimes.length + 1) {
      speed.replaceChildren(option(-1, '–'));
      state.stepTimes.forEach((text, position) => speed.append(option(position, text)));
    }
    speed.value = String(state.stepTimePosition);
    speed.options[0].hidden = state.stepTimePosition !== -1;
  }

  function renderList(state) {
    const list = $('list');
    const names = state.patterns;
    const key = JSON.stringify(names);
    if (list.dataset.names !== key) {
      list.dataset.names = key;
      list.querySelectorAll('label').forEach((label) => label.remove());
      for (const name of names) {
        const label = document.createElement('label');
        label.className = 'entry';
        const radio = document.createElement('input');
        radio.type = 'radio';
        radio.name = 'pattern';
        radio.value = name;
        const text = document.createElement('span');
        text.textContent = name;
        label.append(radio, text);
        list.append(label);
      }
      if (names.length === 0) {
        const label = document.createElement('label');
        label.className = 'entry empty';
        label.textContent = 'Noch keine Muster gespeichert.';
        list.append(label);
      }
    }
    if (!names.includes(picked))
      picked = '';
    for (const radio of list.querySelectorAll('input'))
      radio.checked = radio.value === picked;
    $('load').disabled = picked === '';
  }

  function render(state) {
    if (shown !== null && state.version < shown.version)
      return;
    shown = state;
    renderLamps(state.lamps);
    $('notice').textContent = state.protected
      ? 'Die Verbindung ist nicht verschlüsselt: das Passwort und alles, was diese Seite zeigt, gehen lesbar durch das Netz.'
      : 'Die Verbindung ist nicht verschlüsselt. Ohne Passwort ist die Seite nur auf dem Gerät des Players selbst zu erreichen.';
    const following = state.follow !== null;
    $('follow').hidden = !following;
    for (const id of ['transport', 'gridPanel', 'files'])
      $(id).hidden = following;
    if (following) {
      $('pattern').textContent = '';
      $('step').textContent = '';
      $('source').textContent = state.follow.source;
      $('sender').textContent = state.follow.sender;
      return;
    }
    $('pattern').textContent = state.pattern ? `Muster: ${state.pattern}` : 'Kein Muster geladen';
    $('step').textContent = state.running ? `Schritt ${state.progress} · läuft` : 'Angehalten';
    $('start').disabled = state.running;
    $('stop').disabled = !state.running;
    renderSpeed(state);
    $('first').value = String(state.firstStep);
    $('last').value = String(state.lastStep);
    for (let c = 0; c < Channels; ++c) {
      for (let s = 0; s < Steps; ++s) {
        const value = state.cells[c][s];
        const box = cells[c][s];
        box.checked = value === 1;
        box.indeterminate = value === 2;
      }
    }
    columns.forEach((column, s) => {
      const step = s + 1;
      const outside = step < state.firstStep || step > state.lastStep;
      const now = state.running && step === state.progress;
      for (const element of column) {
        element.classList.toggle('outside', outside);
        element.classList.toggle('now', now);
      }
    });
    renderList(state);
  }

  // Puts every control back to what the shown state says: after a pick the
  // browser made on its own, before the player has answered.
  function rerender() {
    if (shown !== null)
      render(shown);
  }

  async function send(path, body) {
    try {
      const answer = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(body || {}),
        credentials: 'same-origin',
        cache: 'no-store',
      });
      if (answer.status === 401) {
        location.reload();
        return false;
      }
      let data = null;
      try {
        data = await answer.json();
      } catch (ignored) {
        // no body to read
      }
      if (!answer.ok) {
        say((data && data.error) || `Der Player lehnt ab (${answer.status}).`);
        rerender();
        return false;
      }
      say(data && data.message);
      if (data && typeof data.version === 'number')
        render(data);
      return true;
    } catch (failure) {
      say('Der Player antwortet nicht.');
      rerender();
      return false;
    }
  }

  function setLink(up) {
    document.body.classList.toggle('stale', !up);
    $('link').textContent = up ? 'Verbunden.' : 'Verbindung zum Player unterbrochen – neuer Versuch läuft …';
  }

  function connect() {
    const socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`);
    socket.addEventListener('open', () => {
      retryMs = 1000;
      setLink(true);
    });
    socket.addEventListener('message', (event) => {
      try {
        render(JSON.parse(event.data));
      } catch (ignored) {
        // a message that is no state is none of the page's
      }
    });
    socket.addEventListener('close', () => {
      setLink(false);
      setTimeout(reconnect, retryMs);
      retryMs = Math.min(retryMs * 2, 10000);
    });
  }

  async function reconnect() {
    try {
      const answer = await fetch('/api/state', { credentials: 'same-origin', cache: 'no-store' });
      if (answer.status === 401) {
        location.reload();
        return;
      }
      if (answer.ok)
        render(await answer.json());
    } catch (ignored) {
      // the WebSocket's own try says when the player is back
    }
    connect();
  }

  function wire() {
    $('start').addEventListener('click', () => send('/api/start'));
    $('stop').addEventListener('click', () => send('/api/stop'));
    $('grid').addEventListener('click', (event) => {
      const box = event.target;
      if (!(box instanceof HTMLInputElement) || box.type !== 'checkbox')
        return;
      // The box keeps the player's value until the player says otherwise.
      event.preventDefault();
      send('/api/cell', { channel: Number(box.dataset.channel), step: Number(box.dataset.step) });
    });
    $('speed').addEventListener('change', (event) => {
      const position = Number(event.target.value);
      rerender();
      if (position >= 0)
        send('/api/step-time', { position });
    });
    $('first').addEventListener('change', (event) => {
      const step = Number(event.target.value);
      rerender();
      send('/api/first', { step });
    });
    $('last').addEventListener('change', (event) => {
      const step = Number(event.target.value);
      rerender();
      send('/api/last', { step });
    });
    $('name').addEventListener('input', () => {
      $('save').disabled = $('name').value === '';
    });
    $('save').addEventListener('click', async () => {
      if (await send('/api/save', { name: $('name').value })) {
        $('name').value = '';
        $('save').disabled = true;
      }
    });
    $('list').addEventListener('change', (event) => {
      picked = event.target.value;
      $('load').disabled = picked === '';
    });
    $('load').addEventListener('click', () => {
      if (picked !== '')
        send('/api/load', { name: picked });
    });
  }

  build();
  wire();
  document.body.classList.add('stale');
  reconnect();
})();

// The login form: trades the password for a session cookie (HttpOnly, so
// this script never sees it), then opens the page.
'use strict';

document.getElementById('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  const button = document.getElementById('enter');
  const message = document.getElementById('message');
  const password = document.getElementById('password');
  button.disabled = true;
  message.textContent = 'Prüfe das Passwort …';
  try {
    const answer = await fetch('/api/login', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ password: password.value }),
      credentials: 'same-origin',
      cache: 'no-store',
    });
    if (answer.status === 204) {
      location.replace('/');
      return;
    }
    let text = `Anmeldung abgelehnt (${answer.status}).`;
    try {
      text = (await answer.json()).error || text;
    } catch (ignored) {
      // the status says enough
    }
    message.textContent = text;
    password.select();
  } catch (failure) {
    message.textContent = 'Der Player antwortet nicht.';
  } finally {
    button.disabled = false;
  }
});

#!/usr/bin/python3
"""The page of `texhost serve` in a real browser (headless Chromium through
Selenium): every widget has its control, a slider and a sub-type move the
preview, and the preview has, pixel for pixel, the image of the PNG file
that `texhost render` writes for the same settings.

    serve_page_test.py --texhost build/host/texhost --plugin-dir build/plugins
                       [--screenshot docs/serve.png]

With --screenshot it also saves a picture of the page (the README's).
"""
import argparse
import base64
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL:', what, file=sys.stderr)


def png_pixels(data):
    """Width, height, bit depth, colour type and the unfiltered rows of a
    non-interlaced PNG: enough to compare two images sample by sample."""
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    pos, idat = 8, b''
    while pos < len(data):
        n = int.from_bytes(data[pos:pos + 4], 'big')
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            width, height = int.from_bytes(body[0:4], 'big'), int.from_bytes(body[4:8], 'big')
            depth, colour, interlace = body[8], body[9], body[12]
            assert interlace == 0
        elif kind == b'IDAT':
            idat += body
        pos += 12 + n
    raw = zlib.decompress(idat)
    bpp = max(1, depth // 8 * {0: 1, 2: 3}[colour])
    stride = (len(raw) // height) - 1
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, depth, colour, b''.join(rows)


def start_server(texhost, plugin_dir):
    server = subprocess.Popen([texhost, 'serve', '--port', '0', '--plugin-dir', plugin_dir],
                              stdout=subprocess.PIPE, text=True)
    line = server.stdout.readline()
    if 'http://' not in line:
        server.kill()
        sys.exit('texhost serve did not start: ' + line)
    return server, line.split()[2]


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    # Headless, as root, and with nothing that reaches out to the network.
    for flag in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                 '--no-first-run', '--disable-background-networking',
                 '--disable-component-update', '--disable-sync',
                 '--user-data-dir=' + profile, '--window-size=1360,980',
                 '--hide-scrollbars', '--force-device-scale-factor=1']:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def preview_number(driver):
    n = driver.find_element(By.ID, 'preview').get_attribute('data-request')
    return int(n) if n else 0


def wait_for_new_preview(driver, after):
    """Waits until an image newer than request `after` is shown and no
    change is waiting or on its way, so that the image is the newest state."""
    WebDriverWait(driver, 20).until(lambda d: preview_number(d) > after and d.execute_script(
        'return inflight === null && !pending && !timer'))
    return preview_number(driver)


def preview_bytes(driver):
    """The bytes of the image on screen, and the command-line arguments of the
    state it shows."""
    img = driver.find_element(By.ID, 'preview')
    data = driver.execute_async_script('''
        const done = arguments[arguments.length - 1];
        fetch(arguments[0].src).then((r) => r.arrayBuffer()).then((b) => {
            let s = '';
            new Uint8Array(b).forEach((c) => { s += String.fromCharCode(c); });
            done(btoa(s));
        });''', img)
    return base64.b64decode(data), json.loads(img.get_attribute('data-args'))


def cli_pixels(texhost, plugin_dir, args, tmp):
    """The image of the file texhost render writes for the page's arguments."""
    out = os.path.join(tmp, 'cli.png')
    args = [out if a == 'preview.png' else a for a in args]
    subprocess.run([texhost] + args + ['--plugin-dir', plugin_dir, '--quiet'], check=True,
                   cwd=tmp)
    with open(out, 'rb') as f:
        return png_pixels(f.read())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--texhost', required=True)
    ap.add_argument('--plugin-dir', required=True)
    ap.add_argument('--screenshot')
    a = ap.parse_args()
    a.texhost = os.path.abspath(a.texhost)
    a.plugin_dir = os.path.abspath(a.plugin_dir)

    started = time.time()
    server, url = start_server(a.texhost, a.plugin_dir)
    with tempfile.TemporaryDirectory() as tmp:
        driver = start_browser(os.path.join(tmp, 'profile'))
        try:
            table = json.load(urllib.request.urlopen(url + 'api/plugins'))
            marble = next(p for p in table['plugins'] if p['id'] == 'pellosca')

            driver.get(url + '#plugin=pellosca')
            first = wait_for_new_preview(driver, 0)
            for id_ in ['plugin', 'stype', 'shape', 'preview']:
                check(driver.find_elements(By.ID, id_), 'no element #' + id_)

            # Every widget has its control, carrying its exact label.
            for w in marble['widgets']:
                found = driver.find_elements(By.CSS_SELECTOR, '#controls [data-index="%d"]' % w['index'])
                check(found, 'no control for widget %d "%s"' % (w['index'], w['label']))
                for c in found:
                    check(c.get_attribute('data-label') == w['label'],
                          'widget %d: data-label %r, label %r' % (w['index'], c.get_attribute('data-label'), w['label']))
                kinds = sorted(c.get_attribute('type') or 'caption' for c in found)
                expected = {'float': ['number', 'range'], 'int': ['number', 'range'],
                            'toggle': ['checkbox'], 'label': ['caption']}[w['kind']]
                check(kinds == expected, 'widget "%s": controls %s' % (w['label'], kinds))
                if w['tip']:
                    check(all(c.get_attribute('title') == w['tip'] for c in found),
                          'widget "%s" without its tip' % w['label'])

            before, args0 = preview_bytes(driver)
            check(png_pixels(before) == cli_pixels(a.texhost, a.plugin_dir, args0, tmp),
                  'the first preview differs from texhost render ' + ' '.join(args0))

            # Move the "Turbulance" slider, then choose the sub-type "Rings".
            slider = driver.find_element(By.CSS_SELECTOR, 'input[type=range][data-label="Turbulance"]')
            ActionChains(driver).move_to_element_with_offset(slider, slider.size['width'] // 4, 0).click().perform()
            Select(driver.find_element(By.ID, 'stype')).select_by_visible_text('Rings')
            last = wait_for_new_preview(driver, first)
            after, args = preview_bytes(driver)
            check(png_pixels(after)[4] != png_pixels(before)[4], 'the preview did not change')
            check('--stype' in args and args[args.index('--stype') + 1] == 'Rings', 'sub-type not in ' + str(args))
            check(any(x.startswith('Turbulance=') for x in args), 'Turbulance not set in ' + str(args))
            number = driver.find_element(By.CSS_SELECTOR, 'input[type=number][data-label="Turbulance"]')
            check(('Turbulance=' + number.get_attribute('value')) in args,
                  'the number box does not follow the slider: ' + number.get_attribute('value'))
            check(png_pixels(after) == cli_pixels(a.texhost, a.plugin_dir, args, tmp),
                  'the preview differs from texhost render ' + ' '.join(args))
            check('#' in driver.current_url and 'stype=Rings' in driver.current_url,
                  'the URL does not hold the state: ' + driver.current_url)
            check('M samples/s' in driver.find_element(By.ID, 'stats').text, 'no render statistics')
            link = driver.current_url

            # The wheel zooms about the pointer and a drag pans; the image
            # is still the command line's for the view the page shows.
            img = driver.find_element(By.ID, 'preview')
            n = preview_number(driver)
            driver.execute_script('''
                const r = arguments[0].getBoundingClientRect();
                arguments[0].dispatchEvent(new WheelEvent('wheel', {deltaY: -150, bubbles: true,
                    cancelable: true, clientX: r.left + r.width / 4, clientY: r.top + r.height / 4}));
                ''', img)
            n = wait_for_new_preview(driver, n)
            ActionChains(driver).move_to_element(img).click_and_hold().move_by_offset(40, 25).release().perform()
            wait_for_new_preview(driver, n)
            zoomed, zoomed_args = preview_bytes(driver)
            extent = float(zoomed_args[zoomed_args.index('--extent') + 1])
            center = zoomed_args[zoomed_args.index('--center') + 1].split(',')
            check(extent < 4, 'the wheel did not zoom in: extent %g' % extent)
            check(float(center[0]) < 0 and float(center[1]) > 0,
                  'zoom to the upper left and a drag down-right should move the centre up-left: %s' % center)
            check(png_pixels(zoomed) == cli_pixels(a.texhost, a.plugin_dir, zoomed_args, tmp),
                  'the zoomed preview differs from texhost render ' + ' '.join(zoomed_args))

            # A parameter file from disk sets the controls.
            params = os.path.join(tmp, 'look.txt')
            with open(params, 'w') as f:
                f.write('# a look\nWidth = 0.25\nSeed = 9\n')
            n = preview_number(driver)
            driver.find_element(By.ID, 'load-params').send_keys(params)
            wait_for_new_preview(driver, n)
            width = driver.find_element(By.CSS_SELECTOR, 'input[type=number][data-label="Width"]')
            check(width.get_attribute('value') == '0.25', 'the parameter file did not set "Width"')
            check('Seed=9' in preview_bytes(driver)[1], 'the parameter file did not set "Seed"')

            # The URL reproduces the view in a fresh page.
            driver.get('about:blank')
            driver.get(link)
            wait_for_new_preview(driver, 0)
            again, args_again = preview_bytes(driver)
            check(png_pixels(again) == png_pixels(after) and args_again == args,
                  'the link does not reproduce the view')
            # A preset sets the values and its sub-type.
            driver.get(url + '#plugin=vamorela')
            n = wait_for_new_preview(driver, 0)
            Select(driver.find_element(By.ID, 'preset')).select_by_visible_text('running bond wall')
            wait_for_new_preview(driver, n)
            wall, args = preview_bytes(driver)
            check(Select(driver.find_element(By.ID, 'stype')).first_selected_option.text == '2D',
                  'the preset did not choose its sub-type')
            check('Z Size=0.5' in args, 'the preset values are not in ' + str(args))
            check(png_pixels(wall) == cli_pixels(a.texhost, a.plugin_dir, args, tmp),
                  'the preset preview differs from texhost render ' + ' '.join(args))
            if a.screenshot:
                driver.save_screenshot(a.screenshot)
        finally:
            driver.quit()
            server.terminate()
            server.wait(10)
    print('browser test: %d problems, %.1f s' % (len(failures), time.time() - started))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

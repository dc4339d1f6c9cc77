; Calls the procedure must refuse: the call fails and the image keeps its
; layers and channels. scripts/e2e.sh checks that GIMP's output names the
; unknown interpolation and shows no crashed plug-in.

(define e2e-from (rect 2 2 10 8))
(define e2e-to (rect 4 3 12 9))

(define (e2e-items image)
  (list (layers-of image) (channels-of image)))

(define (e2e-refused name image drawable from to interpolation)
  (let* ((before (e2e-items image))
         (answer (tessaform-caught image drawable from to interpolation)))
    (check (string-append name ": call fails") #f answer)
    (check (string-append name ": layers and channels unchanged") before
           (e2e-items image))))

(define (e2e-cases)
  (group "interpolation index"
    (lambda ()
      (let* ((im (make-image 16 12 RGBA-IMAGE 16 12 0 0 #f))
             (image (car im)) (src (cadr im)))
        (e2e-refused "interpolation 4" image src e2e-from e2e-to 4)
        (e2e-refused "interpolation 255" image src e2e-from e2e-to 255)
        ; The plug-in is still there and answers after a refusal.
        (check "interpolation 3 after the refusals adds one layer"
               (+ 1 (length (layers-of image)))
               (begin (tessaform image src e2e-from e2e-to 3)
                      (length (layers-of image)))))))

  (group "coordinates and size"
    (lambda ()
      (let* ((im (make-image 16 12 RGBA-IMAGE 16 12 0 0 #f))
             (image (car im)) (src (cadr im)))
        ; 2^23 + 1 is exact in single precision, so only the limit refuses it.
        (e2e-refused "source x of 8388609" image src
                     '((2 2) (8388609 2) (10 8) (2 8)) e2e-to 0)
        (e2e-refused "source y of -8388609" image src
                     '((2 2) (10 2) (10 -8388609) (2 8)) e2e-to 0)
        (e2e-refused "destination x of 1e10" image src
                     e2e-from '((4 3) (12 3) (1e10 9) (4 9)) 0)
        (e2e-refused "destination wider than GIMP allows (600000)" image src
                     e2e-from (rect 0 0 600000 10) 0)
        (e2e-refused "destination of 300000 x 4000 pixels" image src
                     e2e-from (rect 0 0 300000 4000) 0)
        ; At the limit itself the source is accepted.
        (check "source x of exactly 8388608 is accepted"
               (+ 1 (length (layers-of image)))
               (begin (tessaform image src '((2 2) (8388608 2) (10 8) (2 8)) e2e-to 0)
                      (length (layers-of image)))))))

  (group "drawables that are not layers"
    (lambda ()
      (let* ((im (make-image 16 12 RGBA-IMAGE 16 12 0 0 #f))
             (image (car im)) (src (cadr im))
             (mask (car (gimp-layer-create-mask src ADD-MASK-WHITE)))
             (channel (car (gimp-channel-new image 16 12 "channel" 50 '(255 0 0)))))
        (gimp-layer-add-mask src mask)
        (gimp-image-insert-channel image channel 0 0)
        (e2e-refused "layer mask" image mask e2e-from e2e-to 0)
        (e2e-refused "channel" image channel e2e-from e2e-to 0)
        (let* ((other (make-image 16 12 RGBA-IMAGE 16 12 0 0 #f)))
          (e2e-refused "layer of another image" image (cadr other) e2e-from e2e-to 0)
          (check "the other image unchanged" (list (cadr other)) (layers-of (car other)))))))

  ; GIMP ends a plug-in that writes into a group whose content is locked.
  (group "layer group with its content locked"
    (lambda ()
      (let* ((image (car (gimp-image-new 16 12 RGB)))
             (outer (car (gimp-layer-group-new image)))
             (inner (car (gimp-layer-group-new image)))
             (src (car (gimp-layer-new image 16 12 RGBA-IMAGE "src" 100 LAYER-MODE-NORMAL))))
        (gimp-image-insert-layer image outer 0 0)
        (gimp-image-insert-layer image inner outer 0)
        (gimp-image-insert-layer image src inner 0)
        (gimp-item-set-lock-content inner TRUE)
        (e2e-refused "locked parent group" image src e2e-from e2e-to 0)
        (check "locked parent group: its layers unchanged" (list src) (children-of inner))
        (gimp-item-set-lock-content inner FALSE)
        (gimp-item-set-lock-content outer TRUE)
        (e2e-refused "locked group two levels up" image src e2e-from e2e-to 0)
        (check "locked group two levels up: layers unchanged" (list src) (children-of inner))
        (gimp-item-set-lock-content outer FALSE)
        (check "unlocked groups: the call adds one layer" 2
               (begin (tessaform image src e2e-from e2e-to 0)
                      (length (children-of inner)))))))

  (group "indexed image"
    (lambda ()
      (let* ((im (make-image 16 12 RGB-IMAGE 16 12 0 0 #f))
             (image (car im)) (src (cadr im)))
        (fill-drawable src 3 (pattern-value 3) #f)
        (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE
                                    16 FALSE FALSE "")
        (check "the drawable is indexed" 1 (car (gimp-drawable-is-indexed src)))
        (e2e-refused "indexed drawable" image src e2e-from e2e-to 0)))))
